// Pictures of the main window as a person sees it, for the documentation: run under xvfb-run.
//   window_screenshot FOLDER MEDIA_FOLDER
// writes FOLDER/window-3gp.png (the 3GP profile's lists), FOLDER/window-batch.png (two rows
// converting side by side) and FOLDER/window-failed.png (a failed row with its reason), from
// files of the project's media folder, FOLDER/window-today.png (today's group in the open
// profile list, the H.264 profile's lists behind it), FOLDER/window-smallest.png (the smallest
// size) and FOLDER/window-options.png (the options dialog). Settings go to a folder of its own, not
// the user's.
#include <QApplication>
#include <QDir>
#include <QAbstractItemView>
#include <QScreen>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include "app/main_window.h"

namespace {

using clipwright::TForm1;

// The window with its end-of-batch message kept instead of shown.
class ShotWindow : public TForm1 {
public:
    void Inform(const QString& text) override { informed = text; }
    QString informed;
};

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void Save(ShotWindow& window, const QString& path) {
    QApplication::processEvents();
    window.grab().save(path);
    std::printf("%s\n", path.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 3)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QDir media(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir converted;
    ShotWindow window;
    if (!window.Started())
        return 1;
    window.resize(1280, 800);
    window.show();
    window.EditOutputFolder->setText(converted.path());
    window.Form4->ComboSimultaneous->setCurrentIndex(2);

    window.ComboOutputFormat->setCurrentIndex(16); // 3GP
    window.AddFiles({media.filePath("mp4_h264_aac_560x320.mp4"),
                     media.filePath("dv_ntsc_dvvideo_pcm_720x480_camcorder.dv"),
                     media.filePath("flv_h264_aac_480x270.flv")});
    Save(window, out + "/window-3gp.png");

    // The open list is a window of its own: the screen's picture holds both.
    window.ComboOutputFormat->setCurrentIndex(34); // MP4 - H.264 + AAC, plays everywhere
    window.ComboOutputFormat->showPopup();
    window.ComboOutputFormat->view()->scrollToBottom();
    QApplication::processEvents();
    WaitUntil([] { return false; }, 500);
    QGuiApplication::primaryScreen()->grabWindow(0).save(out + "/window-today.png");
    std::printf("%s\n", (out + "/window-today.png").toLocal8Bit().constData());
    window.ComboOutputFormat->hidePopup();

    window.ClearAllItems1Click();
    window.ComboOutputFormat->setCurrentIndex(18); // AVI
    const QString long_clip = media.filePath("flv_h264_aac_480x270.flv");
    window.AddFiles({long_clip, long_clip, long_clip, long_clip});
    window.Driver().ButtonConvertClick();
    WaitUntil(
        [&] {
            const auto& rows = window.FileList();
            return rows.At(0).progress.endsWith('%') && rows.At(1).progress.endsWith('%') &&
                   rows.At(0).progress != "0%" && rows.At(1).progress != "0%";
        },
        30000);
    Save(window, out + "/window-batch.png");
    WaitUntil([&] { return !window.Driver().BatchRunning(); }, 120000);

    window.ClearAllItems1Click();
    window.ComboOutputFormat->setCurrentIndex(6); // WMA
    window.AddFiles({media.filePath("mp3_44k_stereo_id3v23.mp3"),
                     media.filePath("mxf_mpeg2_720x576_noaudio.mxf"),
                     media.filePath("wav_pcm16_48k_mono.wav")});
    window.Driver().ButtonConvertClick();
    WaitUntil([&] { return !window.Driver().BatchRunning(); }, 60000);
    window.ListView1->setCurrentIndex(window.FileList().index(1, 0));
    Save(window, out + "/window-failed.png");
    // The smallest the window allows, with the longest lists (to look at, not for the docs).
    window.ComboOutputFormat->setCurrentIndex(16); // 3GP
    window.resize(window.minimumSizeHint());
    Save(window, out + "/window-smallest.png");
    window.Form4->show();
    QApplication::processEvents();
    window.Form4->grab().save(out + "/window-options.png");
    std::printf("%s\n", (out + "/window-options.png").toLocal8Bit().constData());
    return 0;
}
