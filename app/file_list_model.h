// The file list: a row per added file with what the probe found, its check box, and what its
// conversion shows: the outcome, why a row failed (its tooltip) and the engine's log lines. The
// conversion driver updates it, the window's view shows it; nothing reads its state back out of the
// view. GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <vector>

#include "app/profiles/source_facts.h"

namespace clipwright {

class FileListModel : public QAbstractTableModel {
public:
    enum Column { Name, VideoSize, FrameRate, Duration, Output, Progress, Frames, ColumnCount };

    struct Row {
        QString file;
        QString video_size; // " " without video, empty when the probe failed
        QString frame_rate;
        QString duration;
        QString output_type;
        QString progress; // "45%", "Done", "Fail", "Abort", "Error"
        QString frames;
        bool checked = true;
        double display_aspect = 0; // the probe's, 0 when the stream states none
        SourceFacts facts;         // what the probe found, for profiles that fit the source
        QString reason;            // why the row failed
        QStringList log;           // the engine's lines for the row's job, oldest first
        QString last_error;        // the last error line among them
    };
    // Changes of a row's reason or log lines are reported on the name column in this role.
    static constexpr int kDetailsRole = Qt::UserRole + 1;
    // A row keeps at most this many log lines: the last ones.
    static constexpr int kMaxLogLines = 2000;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int Count() const { return static_cast<int>(rows_.size()); }
    const Row& At(int row) const { return rows_.at(static_cast<size_t>(row)); }
    void Append(Row row);
    void Remove(int row);
    void Clear();

    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    void SetProgress(int row, const QString& text);
    void SetFrames(int row, const QString& text);
    // The outcome text in the progress column, and the reason for a failure (or none).
    void SetOutcome(int row, const QString& text, const QString& reason);
    void AppendLog(int row, const QString& line, bool error);
    // Empties the progress and frames cells of every row, with their reasons and log lines.
    void ClearProgress();
    // Every row's output column, after the profile changed.
    void SetOutputType(const QString& type);

private:
    static const QString& Cell(const Row& row, int column);
    void Changed(int first_row, int last_row, int column);

    std::vector<Row> rows_;
};

} // namespace clipwright
