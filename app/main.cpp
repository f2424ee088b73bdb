// clipwright: the converter's window.
#include <QApplication>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Clipwright");
    clipwright::TForm1 window;
    if (!window.Started())
        return 1;
    window.show();
    // Files named on the command line go through the same add path as the dialog's.
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    if (!files.isEmpty())
        window.AddFiles(files);
    return QApplication::exec();
}
