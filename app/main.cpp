// clipwright: the converter's window.
#include <QApplication>
#include <QIcon>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Clipwright");
    // Ties the window to its menu entry (and icon) on desktops that match by desktop file.
    QGuiApplication::setDesktopFileName("com.vexlane.Clipwright");
    QApplication::setWindowIcon(QIcon::fromTheme("com.vexlane.Clipwright"));
    clipwright::TForm1 window;
    if (!window.Started())
        return 1;
    window.show();
    // Files named on the command line or by a file manager go through the dialog's add path.
    window.OpenFiles(QApplication::arguments().mid(1));
    return QApplication::exec();
}
