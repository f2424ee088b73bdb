// The media files of a folder tree, as the window adds a folder (the Add Folder command, a
// dropped folder, a folder named at launch).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace clipwright {

// The files under `folder` and all its subfolders that are media, sorted by path. A file whose
// extension (lower-case, no dot) is in `extensions` is media at once, a picture never; any
// other file only when `holds_media` says so. Hidden files and folders (names starting with a
// dot) are left out.
QStringList MediaFilesUnder(const QString& folder, const QStringList& extensions,
                            const std::function<bool(const QString&)>& holds_media);

} // namespace clipwright
