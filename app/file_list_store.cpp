#include "app/file_list_store.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>

namespace clipwright {

namespace {

// Progress texts that end a row; anything else a row shows (a percentage) or holds (log lines
// without an outcome) means its job was running.
bool IsOutcome(const QString& progress) {
    return progress == "Done" || progress == "Fail" || progress == "Abort" ||
           progress == kInterrupted;
}

} // namespace

QString KeptListPath() {
    const QSettings settings("Vexlane", "Clipwright");
    return QFileInfo(settings.fileName()).absolutePath() + "/Clipwright file list.json";
}

bool KeepFileList(const FileListModel& rows, const QString& path) {
    QJsonArray list;
    for (int i = 0; i < rows.Count(); ++i) {
        const FileListModel::Row& row = rows.At(i);
        QJsonObject kept{{"file", row.file}, {"checked", row.checked}};
        if (IsOutcome(row.progress)) {
            kept["outcome"] = row.progress;
            kept["reason"] = row.reason;
        } else if (row.progress.endsWith('%') || (row.progress.isEmpty() && !row.log.isEmpty())) {
            kept["converting"] = true;
        }
        list.append(kept);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
    return file.commit();
}

std::vector<KeptRow> ReadKeptList(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<KeptRow> rows;
    for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject kept = value.toObject();
        KeptRow row{kept["file"].toString(), kept["checked"].toBool(true),
                    kept["outcome"].toString(), kept["reason"].toString()};
        if (row.file.isEmpty())
            continue;
        if (kept["converting"].toBool()) {
            row.checked = true;
            row.outcome = kInterrupted;
            row.reason = "The program ended while this file was converting; it is checked to "
                         "convert again.";
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace clipwright
