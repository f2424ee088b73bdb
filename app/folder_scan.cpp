#include "app/folder_scan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace clipwright {

namespace {

// Still pictures the library would open as one frame: a folder of clips and photos lists the
// clips only, and the photos are not opened at all.
const QStringList kPictures = {"jpg",  "jpeg", "png",  "bmp", "webp", "tif", "tiff",
                               "heic", "heif", "avif", "jxl", "ico",  "svg", "psd",
                               "pbm",  "pgm",  "ppm",  "pnm", "tga",  "dng", "xcf"};

} // namespace

QStringList MediaFilesUnder(const QString& folder, const QStringList& extensions,
                            const std::function<bool(const QString&)>& holds_media) {
    QStringList found;
    // Without QDir::Hidden the walk neither lists nor enters names starting with a dot; without
    // QDir::System it passes over pipes and devices, which a probe would wait on; links to
    // folders are not followed, so a link to a parent cannot loop.
    QDirIterator walk(QDir(folder).absolutePath(), QDir::Files, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString file = walk.next();
        const QString extension = walk.fileInfo().suffix().toLower();
        if (extensions.contains(extension) || (!kPictures.contains(extension) && holds_media(file)))
            found << file;
    }
    found.sort();
    return found;
}

} // namespace clipwright
