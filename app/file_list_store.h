// The file list kept between sessions (the "Keep the file list between sessions" option): each
// row's file, check mark, outcome and reason, written whole and atomically next to the settings
// and read back at start. A row that was converting when the program ended comes back checked
// and "Interrupted", neither done nor lost. GUI thread only.
#pragma once

#include <QString>

#include <vector>

#include "app/file_list_model.h"

namespace clipwright {

struct KeptRow {
    QString file;
    bool checked = true;
    QString outcome; // "Done", "Fail", "Abort", "Interrupted"; empty when not converted
    QString reason;
};

// The outcome of a row whose conversion the program's end cut short.
inline constexpr const char* kInterrupted = "Interrupted";

// Beside the settings file of QSettings("Vexlane", "Clipwright").
QString KeptListPath();

// Writes every row to `path` through a temporary file renamed over it, so that a crash leaves
// the previous list or the new one, never half of one. False when it could not be written.
bool KeepFileList(const FileListModel& rows, const QString& path);

// The rows kept at `path`, in order; none when there is no such file or it cannot be read.
std::vector<KeptRow> ReadKeptList(const QString& path);

} // namespace clipwright
