// Shows the main window with a few files listed and saves a picture of it: run under
// xvfb-run to look at the window as a person would.
#include <QApplication>
#include <QTimer>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;
    clipwright::TForm1 window;
    if (!window.Started())
        return 1;
    window.resize(1000, 640);
    window.show();
    QStringList files;
    for (int i = 2; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    window.AddFiles(files);
    QTimer::singleShot(800, [&] {
        window.grab().save(QString::fromLocal8Bit(argv[1]));
        application.quit();
    });
    return QApplication::exec();
}
