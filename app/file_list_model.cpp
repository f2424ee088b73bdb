#include "app/file_list_model.h"

namespace clipwright {

namespace {
const char* const kHeaders[FileListModel::ColumnCount] = {
    "Video File Name", "Video Size", "FrameRate", "Duration", "Output", "Progress", "Frames"};
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const QString& FileListModel::Cell(const Row& row, int column) {
    switch (column) {
    case VideoSize:
        return row.video_size;
    case FrameRate:
        return row.frame_rate;
    case Duration:
        return row.duration;
    case Output:
        return row.output_type;
    case Progress:
        return row.progress;
    case Frames:
        return row.frames;
    default:
        return row.file;
    }
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = At(index.row());
    switch (role) {
    case Qt::DisplayRole:
        // The file's name: its folder is in the tooltip, and the name is what tells rows apart.
        if (index.column() == Name)
            return row.file.section('/', -1);
        return Cell(row, index.column());
    case Qt::ToolTipRole:
        if (index.column() == Name)
            return row.reason.isEmpty() ? row.file : row.file + "\n" + row.reason;
        if (!row.reason.isEmpty())
            return row.reason;
        return Cell(row, index.column()).trimmed().isEmpty() ? QVariant()
                                                             : QVariant(Cell(row, index.column()));
    case Qt::CheckStateRole:
        if (index.column() == Name)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() != Name)
            return int(Qt::AlignCenter);
        return {};
    default:
        return {};
    }
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != Name || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == Name)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString(kHeaders[section]);
    if (role == Qt::TextAlignmentRole && section != Name)
        return int(Qt::AlignCenter);
    return {};
}

void FileListModel::Append(Row row) {
    beginInsertRows({}, Count(), Count());
    rows_.push_back(std::move(row));
    endInsertRows();
}

void FileListModel::Remove(int row) {
    if (row < 0 || row >= Count())
        return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void FileListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void FileListModel::Changed(int first_row, int last_row, int column) {
    if (first_row <= last_row)
        emit dataChanged(index(first_row, column), index(last_row, column));
}

void FileListModel::SetChecked(int row, bool checked) {
    rows_.at(static_cast<size_t>(row)).checked = checked;
    Changed(row, row, Name);
}

void FileListModel::SetAllChecked(bool checked) {
    for (Row& row : rows_)
        row.checked = checked;
    Changed(0, Count() - 1, Name);
}

void FileListModel::SetProgress(int row, const QString& text) {
    rows_.at(static_cast<size_t>(row)).progress = text;
    Changed(row, row, Progress);
}

void FileListModel::SetFrames(int row, const QString& text) {
    rows_.at(static_cast<size_t>(row)).frames = text;
    Changed(row, row, Frames);
}

void FileListModel::ClearProgress() {
    for (Row& row : rows_) {
        row.progress.clear();
        row.frames.clear();
        row.reason.clear();
        row.log.clear();
        row.last_error.clear();
    }
    if (Count() > 0)
        emit dataChanged(index(0, Name), index(Count() - 1, Frames));
}

void FileListModel::SetOutcome(int row, const QString& text, const QString& reason) {
    Row& r = rows_.at(static_cast<size_t>(row));
    r.progress = text;
    r.reason = reason;
    emit dataChanged(index(row, Name), index(row, Frames));
}

void FileListModel::AppendLog(int row, const QString& line, bool error) {
    Row& r = rows_.at(static_cast<size_t>(row));
    if (r.log.size() >= kMaxLogLines)
        r.log.removeFirst();
    r.log.append(line);
    if (error)
        r.last_error = line;
    emit dataChanged(index(row, Name), index(row, Name), {kDetailsRole});
}

void FileListModel::SetOutputType(const QString& type) {
    for (Row& row : rows_)
        row.output_type = type;
    Changed(0, Count() - 1, Output);
}

} // namespace clipwright
