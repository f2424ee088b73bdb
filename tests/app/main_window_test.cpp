// The main window on the real widgets (offscreen): the file list, profiles, settings and the
// conversion driver with real conversions.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QDropEvent>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <fstream>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>

#include "app/file_list_store.h"
#include "app/main_window.h"
#include "tests/engine/job_runner.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;

QApplication& App() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* application = new QApplication(argc, argv);
        // Settings of the tests' own, not the user's.
        const QString folder = QString::fromStdString(Media().folder) + "/settings";
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        return application;
    }();
    return *app;
}

// The window with its message boxes and folder browser recorded instead of shown.
class TestWindow : public TForm1 {
public:
    std::vector<QString> informed;
    QStringList notified;
    bool answer = true;
    int questions = 0;
    void Inform(const QString& text) override { informed.push_back(text); }
    bool AskYesNo(const QString&) override {
        ++questions;
        return answer;
    }
    void BrowseForFolder() override {}
    void NotifyDesktopOf(const QString& summary) override { notified << summary; }
    bool Completed() const {
        return !informed.empty() && informed.back().startsWith("All Conversions Completed");
    }
    // A fresh output folder of the test's own, typed into the window.
    std::filesystem::path UseOutputFolder(const std::string& name) {
        const std::filesystem::path out = std::filesystem::path(testing::Media().folder) / name;
        std::filesystem::create_directories(out);
        EditOutputFolder->setText(QString::fromStdString(out.string()));
        return out;
    }
};

bool ProcessUntil(const std::function<bool()>& done, int ms = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// No saved settings but one: a row at a time unless a test asks for more.
void ClearSettings() {
    QSettings settings("Vexlane", "Clipwright");
    settings.clear();
    settings.setValue("Simultaneous", 1);
    settings.sync();
}

// Shown and active, so that its shortcuts take keys.
bool Activate(QWidget& w) {
    w.show();
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

QString Cell(TForm1& w, int row, int column) {
    return w.FileList().index(row, column).data().toString();
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ClearSettings();
    }
};

TEST_F(MainWindowTest, FileListColumnsAndRows) {
    TestWindow w;
    ASSERT_TRUE(w.Started());
    EXPECT_EQ(w.FileList().headerData(0, Qt::Horizontal).toString(), "Video File Name");
    EXPECT_EQ(w.FileList().headerData(3, Qt::Horizontal).toString(), "Duration");
    EXPECT_EQ(w.ListView1->columnWidth(0), 300);
    EXPECT_EQ(w.ListView1->columnWidth(4), 65);
    // A raw stream read through a pipe has no length; the same stream as a file is measured.
    const testing::PipedCopy pipe(Media().m4v_unknown_length, Media().folder + "/window_pipe.m4v");
    w.AddFiles({QString::fromStdString(Media().mp3_audio_only),
                QString::fromStdString(Media().mp4_h264_aac), QString::fromStdString(pipe.Path()),
                QString::fromStdString(Media().avi_film_rate),
                QString::fromStdString(Media().random_avi),
                QString::fromStdString(Media().mp3_audio_only),
                QString::fromStdString(Media().m4v_unknown_length)});
    ASSERT_EQ(w.FileList().Count(), 7);
    EXPECT_EQ(Cell(w, 0, 1), " ");
    EXPECT_EQ(Cell(w, 0, 2), " ");
    EXPECT_EQ(Cell(w, 0, 3), "00:00:03");
    EXPECT_EQ(Cell(w, 0, 4), "MP4");
    EXPECT_EQ(Cell(w, 1, 1), "640x480");
    EXPECT_EQ(Cell(w, 1, 2), "29.97");
    EXPECT_EQ(Cell(w, 2, 3), "Unknown");
    EXPECT_EQ(Cell(w, 3, 2), "23.98");
    EXPECT_EQ(Cell(w, 4, 5), "Error");
    EXPECT_EQ(Cell(w, 4, 1), "");
    EXPECT_TRUE(w.FileList().At(5).checked) << "twice, two rows";
    EXPECT_EQ(Cell(w, 6, 3), "00:00:01");
    auto* counts = w.findChild<QLabel*>("StatusCounts");
    EXPECT_EQ(counts->text(), "7 files, 7 checked");
    w.FileList().setData(w.FileList().index(5, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_EQ(counts->text(), "7 files, 6 checked");
}

TEST_F(MainWindowTest, FilesOpenedAtLaunchAreListed) {
    // A file manager's "Open with" hands paths or file:// URLs; a shell, relative paths.
    TestWindow w;
    const QString mp3 = QString::fromStdString(Media().mp3_audio_only);
    const QString mp4 = QString::fromStdString(Media().mp4_h264_aac);
    w.OpenFiles({QUrl::fromLocalFile(mp3).toString(), QDir::current().relativeFilePath(mp4)});
    ASSERT_EQ(w.FileList().Count(), 2);
    EXPECT_EQ(w.FileList().At(0).file, mp3);
    EXPECT_EQ(w.FileList().At(1).file, mp4);
    EXPECT_EQ(Cell(w, 1, 1), "640x480");
}

// A folder named at launch or added lists its media files, subfolders included, by path.
TEST_F(MainWindowTest, FoldersListTheirMediaFilesSortedByPath) {
    TestWindow w;
    const QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    for (const char* folder : {"b/c", ".hidden"})
        fs::create_directories(root / folder);
    const std::pair<std::string, const char*> copies[] = {
        {Media().mp3_audio_only, "b/c/tone.mp3"},    {Media().mp4_h264_aac, "b/clip.mp4"},
        {Media().mkv_audio_first, "a.mkv"},          {Media().random_avi, "b/c/random.avi"},
        {Media().avi_mpeg4_mp2, "b/renamed.clip"},   {Media().mp3_audio_only, ".hidden.mp3"},
        {Media().mp3_audio_only, ".hidden/tone.mp3"}};
    for (const auto& [from, to] : copies)
        fs::copy_file(from, root / to);
    std::ofstream(root / "b" / "README.txt") << "Read me first.\n";
    std::ofstream(root / "b" / "words.srt") << "1\n00:00:01,000 --> 00:00:02,000\nHi\n";
    std::string expected;
    for (const char* f :
         {"a.mkv", "b/c/random.avi", "b/c/tone.mp3", "b/clip.mp4", "b/renamed.clip"})
        expected += (root / f).string() + "\n";
    const auto listed = [&] {
        std::string files;
        for (int row = 0; row < w.FileList().Count(); ++row)
            files += w.FileList().At(row).file.toStdString() + "\n";
        return files;
    };
    w.OpenFiles({dir.path()});
    EXPECT_EQ(listed(), expected);
    EXPECT_EQ(Cell(w, 1, 5), "Error") << "a media name that does not open still gets its row";
    EXPECT_EQ(Cell(w, 4, 1), "320x240") << "an odd name found by its content";
    w.ClearAllItems1Click();
    w.AddFolder(dir.path() + "/");
    EXPECT_EQ(listed(), expected);
}

// The classic entries first, then the other formats read, all in the drop filter, then "*".
TEST_F(MainWindowTest, OpenDialogOffersEveryFormatReadAndAllFiles) {
    const QStringList filters = OpenDialogNameFilters();
    EXPECT_EQ(filters[1], "3GPP Files (*.3gp)");
    EXPECT_EQ(filters[23], "Windows Media Files (*.wma *.wmv *.asf *.asx)");
    EXPECT_TRUE(filters.contains("Matroska and WebM Files (*.mkv *.mka *.mk3d *.webm)"));
    EXPECT_EQ(filters.last(), "All Files (*)");
    EXPECT_TRUE(OpenDialogFilter().startsWith("All Supported Files|*.avi;*.mpeg;*.mpg;*.mpa;"));
    for (const QString& filter : filters.mid(1, filters.size() - 2))
        for (const QString& pattern : filter.section('(', -1).chopped(1).split(' '))
            EXPECT_TRUE(pattern == "*.cue" || SupportedExtensions().contains(pattern.mid(2)))
                << pattern.toStdString();
}

TEST_F(MainWindowTest, ProfilesSeparatorAndAudioOnlyLists) {
    TestWindow w;
    auto* video_codec = w.findChild<QComboBox*>("ComboVideoCodec");
    ASSERT_NE(video_codec, nullptr);
    w.AddFiles({QString::fromStdString(Media().mp3_audio_only)});
    w.ComboOutputFormat->setCurrentIndex(3); // M4A
    EXPECT_EQ(video_codec->count(), 0);
    EXPECT_EQ(w.findChild<QComboBox*>("ComboVideoSize")->count(), 0);
    EXPECT_EQ(Cell(w, 0, 4), "M4A");
    w.ComboOutputFormat->setCurrentIndex(4); // MP3
    w.ComboOutputFormat->setCurrentIndex(7); // a separator
    EXPECT_EQ(w.ComboOutputFormat->currentIndex(), 4);
    EXPECT_EQ(w.findChild<QComboBox*>("ComboAudioBitrate")->currentText(), "192 Kbps");

    // Today's group after the last separator: its lists, then the classic channels again, and
    // a phone-like file converted by keeping its streams, which the row's log says.
    w.ComboOutputFormat->setCurrentIndex(34);
    EXPECT_EQ(video_codec->currentText(), "Keep the source's video when it fits");
    EXPECT_EQ(w.findChild<QComboBox*>("ComboVideoSize")->currentText(), "1920 x 1080 (Full HD)");
    auto* channels = w.findChild<QComboBox*>("ComboAudioChannels");
    EXPECT_EQ(channels->currentText(), "Original");
    w.ComboOutputFormat->setCurrentIndex(18); // AVI
    EXPECT_EQ(channels->count(), 2);
    EXPECT_EQ(channels->currentText(), "Stereo");
    w.ComboOutputFormat->setCurrentIndex(34);
    w.UseOutputFolder("window_today");
    w.ClearAllItems1Click();
    w.AddFiles({QString::fromStdString(testing::RealMediaPath("mp4_h264_aac_560x320.mp4"))});
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    EXPECT_EQ(Cell(w, 0, 5), "Done");
    EXPECT_TRUE(w.FileList().At(0).log.join('\n').contains("Video kept as it is"));
}

TEST_F(MainWindowTest, SettingsAreCreatedRestoredAndApplied) {
    {
        TestWindow first;
        QSettings settings("Vexlane", "Clipwright");
        for (const char* key :
             {"Output Folder", "ComboOutputFormat", "Overwrite", "DropDownItems", "LetterBox"})
            EXPECT_TRUE(settings.contains(key)) << key;
        EXPECT_EQ(first.ComboOutputFormat->currentText(), "Zune Mpeg4 Video (*.mp4)");
        first.ComboOutputFormat->setCurrentIndex(5); // WAV
        first.findChild<QComboBox*>("ComboSamplingRate")->setCurrentIndex(2);
        first.EditOutputFolder->setText("/tmp");
        first.Form4->CheckBoxOverWrite->setChecked(true);
        first.Form4->SpinEdit1->setValue(40);
        EXPECT_EQ(first.ComboOutputFormat->maxVisibleItems(), 40);
        first.Form4->ComboSimultaneous->setCurrentIndex(3);
        ASSERT_TRUE(Activate(first));
        first.resize(1100, 760);
        first.ListView1->setColumnWidth(1, 133);
        QTest::keyClick(&first, Qt::Key_Q, Qt::ControlModifier); // File > Exit
        EXPECT_FALSE(first.isVisible());
    }
    TestWindow second;
    EXPECT_EQ(second.ComboOutputFormat->currentText(), "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(second.findChild<QComboBox*>("ComboAudioCodec")->currentText(), "pcm_s16le");
    EXPECT_EQ(second.findChild<QComboBox*>("ComboSamplingRate")->currentIndex(), 2);
    EXPECT_EQ(second.EditOutputFolder->text(), "/tmp");
    EXPECT_TRUE(second.Form4->CheckBoxOverWrite->isChecked());
    EXPECT_EQ(second.ComboOutputFormat->maxVisibleItems(), 40);
    EXPECT_EQ(second.Form4->Simultaneous(), 3);
    EXPECT_EQ(second.size(), QSize(1100, 760)) << "the window keeps its size";
    EXPECT_EQ(second.ListView1->columnWidth(1), 133) << "and its column widths";
}

TEST_F(MainWindowTest, ConvertChecksBeforeStarting) {
    TestWindow w;
    w.Driver().ButtonConvertClick();
    EXPECT_EQ(w.informed.back(), "Please Add Files To Convert!");
    w.AddFiles({QString::fromStdString(Media().mp3_audio_only)});
    w.EditOutputFolder->setText("");
    w.Driver().ButtonConvertClick();
    EXPECT_EQ(w.informed.back(), "Please select an output folder!");
    w.EditOutputFolder->setText("/no/such/folder ");
    w.Driver().ButtonConvertClick();
    EXPECT_EQ(w.informed.back(), MissingFolderText("/no/such/folder "));
    EXPECT_FALSE(w.Driver().Converting());
}

TEST_F(MainWindowTest, ConvertsTheCheckedRowsThroughTheWindow) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window");
    w.ComboOutputFormat->setCurrentIndex(18); // AVI
    w.AddFiles({QString::fromStdString(testing::RealMediaPath("mp4_h264_aac_560x320.mp4")),
                QString::fromStdString(Media().avi_mpeg4_mp2),
                QString::fromStdString(testing::RealMediaPath("flv_sorenson_mp3_320x240.flv"))});
    w.FileList().setData(w.FileList().index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    w.Driver().ButtonConvertClick();
    EXPECT_FALSE(w.ComboOutputFormat->isEnabled()) << "disabled while converting";
    EXPECT_TRUE(w.ListView1->isEnabled()) << "the list stays usable";
    EXPECT_TRUE(w.ButtonStopConvert->isEnabled());
    auto* state = w.findChild<QLabel*>("StatusPanel0");
    EXPECT_EQ(state->text(), "Converting");
    EXPECT_TRUE(ProcessUntil([&] { return w.windowTitle() == "50% - Clipwright"; }))
        << "one of two checked rows done";
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    EXPECT_EQ(w.windowTitle(), "Clipwright");
    EXPECT_EQ(w.notified, QStringList{w.informed.back()}) << "the window was not the active one";
    EXPECT_EQ(state->text(), "Ready");
    EXPECT_FALSE(w.ButtonStopConvert->isEnabled()) << "nothing left to stop";
    EXPECT_EQ(Cell(w, 0, 5), "Done");
    EXPECT_EQ(Cell(w, 1, 5), "");
    EXPECT_EQ(Cell(w, 2, 5), "Done");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 2) << "no temporary file left";
    EXPECT_TRUE(w.ComboOutputFormat->isEnabled());
    for (const char* name : {"mp4_h264_aac_560x320.avi", "flv_sorenson_mp3_320x240.avi"}) {
        const testing::FileReport report = testing::ReadBack((out / name).string());
        EXPECT_TRUE(report.opened) << name;
        EXPECT_NE(testing::FirstOf(report, AVMEDIA_TYPE_VIDEO), nullptr) << name;
    }
}

TEST_F(MainWindowTest, StopAnsweredNoThenYesAndTheCloseRule) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window_stop");
    w.ComboOutputFormat->setCurrentIndex(18); // AVI
    w.AddFiles({QString::fromStdString(testing::RealMediaPath("flv_h264_aac_480x270.flv")),
                QString::fromStdString(testing::RealMediaPath("flv_h264_aac_480x270.flv"))});
    ASSERT_TRUE(Activate(w));
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return !Cell(w, 0, 5).isEmpty(); }));
    EXPECT_FALSE(fs::exists(out / "flv_h264_aac_480x270.avi")) << "not before it is complete";
    w.answer = false;
    EXPECT_FALSE(w.close()) << "closing asks first; No keeps the batch";
    EXPECT_EQ(w.questions, 1);
    QTest::keyClick(&w, Qt::Key_Escape); // Stop Convert, answered No
    EXPECT_EQ(w.questions, 2);
    EXPECT_TRUE(w.Driver().BatchRunning());
    w.answer = true;
    w.Driver().ButtonStopConvertClick();
    EXPECT_TRUE(w.ComboOutputFormat->isEnabled()) << "the controls come back at once";
    EXPECT_FALSE(w.ButtonStopConvert->isEnabled());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    ASSERT_TRUE(ProcessUntil([&] { return Cell(w, 0, 5) == "Abort"; }));
    EXPECT_TRUE(fs::is_empty(out)) << "neither the stopped output nor its temporary file";
    EXPECT_EQ(Cell(w, 1, 5), "") << "no row after a stop";
    ProcessUntil([] { return false; }, 400); // the timer's ticks would have passed
    EXPECT_FALSE(w.Completed()) << "no completion message after a stop";
    EXPECT_TRUE(w.close()) << "closing is allowed again";
    EXPECT_EQ(w.questions, 3) << "without a question";

    // Yes stops the batch, waits for the running row and saves.
    TestWindow quitting;
    const fs::path folder = quitting.UseOutputFolder("window_quit");
    quitting.AddFiles({QString::fromStdString(testing::RealMediaPath("flv_h264_aac_480x270.flv"))});
    quitting.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return !Cell(quitting, 0, 5).isEmpty(); }));
    EXPECT_TRUE(quitting.close());
    EXPECT_EQ(Cell(quitting, 0, 5), "Abort");
    EXPECT_EQ(QSettings("Vexlane", "Clipwright").value("Output Folder").toString().toStdString(),
              folder.string());
}

TEST_F(MainWindowTest, ProgressIsCappedAtAHundredAndShowsTimeLeft) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window_cap");
    w.ComboOutputFormat->setCurrentIndex(18); // AVI
    const QString flv = QString::fromStdString(testing::RealMediaPath("flv_h264_aac_480x270.flv"));
    w.AddFiles({flv, flv});
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return !Cell(w, 0, 5).isEmpty(); }));
    // A stream longer than its header said reports past its total.
    w.Driver().EngineProgress(0, 10, 0, 250, 4096, 200);
    EXPECT_EQ(Cell(w, 0, 5), "100%");
    EXPECT_EQ(w.ProgressBar1->value(), 100);
    // Time passes without the queued engine events running, so the row is still current.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    w.Driver().EngineProgress(0, 10, 0, 50, 4096, 200);
    EXPECT_EQ(Cell(w, 0, 5), "25%");
    auto* left = w.findChild<QLabel*>("StatusPanel2");
    ASSERT_NE(left, nullptr);
    EXPECT_TRUE(left->text().endsWith(" left")) << left->text().toStdString();
    EXPECT_GE(w.Driver().SecondsLeft(), 33) << "the 33 s row ahead counts too";
    w.answer = true;
    w.Driver().ButtonStopConvertClick();
    EXPECT_EQ(left->text(), "") << "no time left after a stop";
    EXPECT_EQ(w.findChild<QLabel*>("StatusPanel1")->text(), "");
    ASSERT_TRUE(ProcessUntil([&] { return Cell(w, 0, 5) == "Abort"; }));
}

TEST_F(MainWindowTest, LastRowUncheckedAndAFolderWithATrailingSpace) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window_last");
    w.EditOutputFolder->setText(QString::fromStdString(out.string()) + " ");
    w.ComboOutputFormat->setCurrentIndex(5); // WAV
    w.AddFiles({QString::fromStdString(Media().mp3_audio_only),
                QString::fromStdString(Media().mkv_audio_first)});
    w.FileList().setData(w.FileList().index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    EXPECT_EQ(Cell(w, 0, 5), "Done");
    EXPECT_EQ(Cell(w, 1, 5), "");
    EXPECT_TRUE(fs::exists(out / "tone_44k_stereo.wav"));
}

TEST_F(MainWindowTest, AnInputRemovedAfterItWasListedFailsItsRowOnly) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window_removed");
    const fs::path doomed = fs::path(Media().folder) / "doomed.mp3";
    fs::copy_file(Media().mp3_audio_only, doomed, fs::copy_options::overwrite_existing);
    w.ComboOutputFormat->setCurrentIndex(5); // WAV
    w.AddFiles(
        {QString::fromStdString(doomed.string()), QString::fromStdString(Media().mp3_audio_only)});
    fs::remove(doomed);
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    EXPECT_EQ(Cell(w, 0, 5), "Fail");
    EXPECT_EQ(Cell(w, 1, 5), "Done");
    EXPECT_FALSE(fs::exists(out / "doomed.wav"));
    EXPECT_TRUE(fs::exists(out / "tone_44k_stereo.wav"));
}

TEST_F(MainWindowTest, AThousandFilesAreListed) {
    TestWindow w;
    QStringList files;
    for (int i = 0; i < 1000; ++i)
        files << QString::fromStdString(i % 2 ? Media().mp3_audio_only : Media().avi_mpeg4_mp2);
    QElapsedTimer clock;
    clock.start();
    w.AddFiles(files);
    const double per_file_ms = static_cast<double>(clock.elapsed()) / 1000.0;
    std::string peak = "?";
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            peak = line.substr(6);
    }
    std::printf("1000 files listed, %.2f ms per file, peak resident memory %s\n", per_file_ms,
                peak.c_str());
    ASSERT_EQ(w.FileList().Count(), 1000);
    EXPECT_EQ(Cell(w, 998, 1), "320x240");
    EXPECT_EQ(Cell(w, 999, 3), "00:00:03");
    w.ClearAllItems1Click();
    EXPECT_EQ(w.FileList().Count(), 0);
}

TEST_F(MainWindowTest, DroppedFoldersAddTheirMediaFiles) {
    TestWindow w;
    const fs::path dropped = fs::path(Media().folder) / "dropped" / "inner";
    fs::create_directories(dropped);
    fs::copy_file(Media().mp3_audio_only, dropped / "a.mp3", fs::copy_options::overwrite_existing);
    std::ofstream(dropped / "notes.txt") << "not media";
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped.parent_path().string())),
                  QUrl::fromLocalFile(QString::fromStdString(Media().avi_mpeg4_mp2))});
    // A drop reaches only the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    ASSERT_TRUE(ProcessUntil([&] { return w.FileList().Count() >= 2; }));
    ASSERT_EQ(w.FileList().Count(), 2);
    EXPECT_TRUE(Cell(w, 0, 0).endsWith("a.mp3"));
    EXPECT_TRUE(Cell(w, 1, 0).endsWith(".avi"));
}

// Rows keep why they failed; the end of the batch sums up what became of them.
TEST_F(MainWindowTest, FailedRowsSayWhyAndTheBatchSumsUp) {
    TestWindow w;
    const fs::path out = w.UseOutputFolder("window_reasons");
    const fs::path same = out / "same.wma";
    fs::copy_file(Media().mp3_audio_only, same, fs::copy_options::overwrite_existing);
    w.Form4->CheckBoxOverWrite->setChecked(true);
    w.ComboOutputFormat->setCurrentIndex(6); // WMA
    w.AddFiles({QString::fromStdString(testing::RealMediaPath("mxf_mpeg2_720x576_noaudio.mxf")),
                QString::fromStdString(Media().random_avi), QString::fromStdString(same.string()),
                QString::fromStdString(Media().mp3_audio_only)});
    const auto shows_why = [&](int row, const char* outcome) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Cell(w, row, 5), outcome);
        const QString reason = w.FileList().At(row).reason;
        EXPECT_FALSE(reason.trimmed().isEmpty());
        EXPECT_EQ(w.FileList().index(row, 5).data(Qt::ToolTipRole).toString(), reason);
        w.ListView1->setCurrentIndex(w.FileList().index(row, 0));
        EXPECT_TRUE(w.RowDetails->toPlainText().contains(reason));
    };
    shows_why(1, "Error"); // the probe's reason
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    EXPECT_EQ(w.informed.back(), CompletedText(1, 3));
    for (int row = 0; row < 3; ++row)
        shows_why(row, "Fail");
    EXPECT_EQ(w.FileList().At(0).reason, "The source has no sound; an audio profile needs sound.");
    EXPECT_TRUE(w.FileList().At(2).reason.contains("replace the input"));
    EXPECT_EQ(fs::file_size(same), fs::file_size(Media().mp3_audio_only)) << "the input is kept";
    EXPECT_EQ(Cell(w, 3, 5), "Done");
    EXPECT_TRUE(w.FileList().At(3).reason.isEmpty());
    EXPECT_FALSE(w.FileList().At(3).log.isEmpty()) << "the engine's lines reach their row";
    // A new batch starts with clean rows.
    w.FileList().SetAllChecked(false);
    w.Driver().ButtonConvertClick();
    EXPECT_EQ(Cell(w, 0, 5), "");
    EXPECT_TRUE(w.FileList().At(0).reason.isEmpty());
    ASSERT_TRUE(ProcessUntil([&] { return !w.Driver().BatchRunning(); }));
    w.ClearAllItems1Click();
    EXPECT_EQ(w.RowDetails->toPlainText(), "") << "no details of a row that went";
}

// Several rows at once: each ends with its own outcome, the batch ends once, Stop stops all.
TEST_F(MainWindowTest, RowsConvertSideBySide) {
    TestWindow w;
    w.Form4->ComboSimultaneous->setCurrentIndex(2);
    const fs::path out = w.UseOutputFolder("window_parallel");
    w.ComboOutputFormat->setCurrentIndex(5); // WAV
    w.AddFiles({QString::fromStdString(Media().mp3_audio_only),
                QString::fromStdString(Media().mkv_audio_first),
                QString::fromStdString(Media().random_avi),
                QString::fromStdString(Media().avi_mpeg4_mp2)});
    w.Driver().ButtonConvertClick();
    EXPECT_EQ(w.Driver().RunningRows(), 2) << "two places, two rows started";
    EXPECT_TRUE(w.ListView1->isEnabled()) << "the list stays usable during a batch";
    // A row not reached yet may still be unchecked.
    w.FileList().setData(w.FileList().index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
    ASSERT_TRUE(ProcessUntil([&] { return w.Completed(); }));
    ProcessUntil([] { return false; }, 300);
    EXPECT_EQ(w.informed.size(), 1u) << "one end of batch";
    EXPECT_EQ(w.informed.back(), CompletedText(2, 1));
    const char* outcomes[] = {"Done", "Done", "Fail", ""};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Cell(w, row, 5), outcomes[row]) << row;
    EXPECT_TRUE(fs::exists(out / "tone_44k_stereo.wav"));

    // Stop: every running row ends as Abort, the rows not reached stay as they were.
    w.ComboOutputFormat->setCurrentIndex(18); // AVI
    w.FileList().Clear();
    const QString flv = QString::fromStdString(testing::RealMediaPath("flv_h264_aac_480x270.flv"));
    w.AddFiles({flv, flv, flv});
    w.informed.clear();
    w.Driver().ButtonConvertClick();
    ASSERT_TRUE(
        ProcessUntil([&] { return Cell(w, 0, 5).endsWith('%') && Cell(w, 1, 5).endsWith('%'); }));
    w.Driver().ButtonStopConvertClick();
    ASSERT_TRUE(ProcessUntil([&] { return !w.Driver().Converting(); }));
    EXPECT_EQ(Cell(w, 0, 5), "Abort");
    EXPECT_EQ(Cell(w, 1, 5), "Abort");
    EXPECT_EQ(Cell(w, 2, 5), "");
    EXPECT_TRUE(w.informed.empty());
}

// What the list and the lists show: names, tooltips, widths, the drop-down height, separators.
TEST_F(MainWindowTest, ReadableListsAndControls) {
    { TestWindow first_start_ended_early; }
    EXPECT_FALSE(QSettings("Vexlane", "Clipwright").contains("Geometry")) << "not before placed";
    TestWindow w;
    w.show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QApplication::processEvents();
    EXPECT_LE((w.frameGeometry().center() - screen.center()).manhattanLength(), 40)
        << "centred at first start";
    EXPECT_FALSE(w.ButtonStopConvert->isEnabled()) << "nothing to stop";
    const QString path = QString::fromStdString(Media().mp3_audio_only);
    w.AddFiles({path});
    EXPECT_EQ(Cell(w, 0, 0), QFileInfo(path).fileName());
    EXPECT_EQ(w.FileList().index(0, 0).data(Qt::ToolTipRole).toString(), path);
    const QFontMetrics metrics(w.ListView1->font());
    EXPECT_GE(w.ListView1->columnWidth(3), metrics.horizontalAdvance("Unknown"));
    // A wider window widens the names, not the narrow columns.
    const int name = w.ListView1->columnWidth(0);
    const int size = w.ListView1->columnWidth(1);
    w.resize(w.width() + 200, w.height());
    QApplication::processEvents();
    EXPECT_GE(w.ListView1->columnWidth(0), name + 150);
    EXPECT_EQ(w.ListView1->columnWidth(1), size);

    w.ComboOutputFormat->setCurrentIndex(16); // 3GP
    QApplication::processEvents();
    for (const char* name : {"ComboVideoSize", "ComboVideoCodec", "ComboAudioCodec",
                             "ComboAudioBitrate", "ComboSamplingRate", "ComboAspectRatio"}) {
        auto* box = w.findChild<QComboBox*>(name);
        int widest = 0;
        for (int i = 0; i < box->count(); ++i)
            widest = std::max(widest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
        EXPECT_GT(box->width(), widest) << name << " holds its longest entry";
    }

    // "Drop Down Items" rows in the popup.
    w.Form4->SpinEdit1->setValue(26);
    w.ComboOutputFormat->showPopup();
    QAbstractItemView* popup = w.ComboOutputFormat->view();
    const int shown = popup->viewport()->height() / popup->sizeHintForRow(0);
    w.ComboOutputFormat->hidePopup();
    EXPECT_NEAR(shown, 26, 1);

    // The keys and the wheel pass over a separator, both ways.
    w.ComboOutputFormat->setCurrentIndex(6); // WMA
    QTest::keyClick(w.ComboOutputFormat, Qt::Key_Down);
    EXPECT_EQ(w.ComboOutputFormat->currentIndex(), 8);
    QTest::keyClick(w.ComboOutputFormat, Qt::Key_Up);
    EXPECT_EQ(w.ComboOutputFormat->currentIndex(), 6);
    QWheelEvent wheel(QPointF(5, 5), w.ComboOutputFormat->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.ComboOutputFormat, &wheel);
    EXPECT_EQ(w.ComboOutputFormat->currentIndex(), 8);
}

// Removing several rows at once, by the button or the Delete key; not while converting.
TEST_F(MainWindowTest, SelectedRowsAreRemoved) {
    TestWindow w;
    const QString mp3 = QString::fromStdString(Media().mp3_audio_only);
    const QString avi = QString::fromStdString(Media().avi_mpeg4_mp2);
    w.AddFiles({mp3, avi, mp3, avi});
    auto select = [&](std::initializer_list<int> rows) {
        w.ListView1->clearSelection();
        for (const int row : rows)
            w.ListView1->selectionModel()->select(w.FileList().index(row, 0),
                                                  QItemSelectionModel::Select |
                                                      QItemSelectionModel::Rows);
    };
    select({0, 2});
    w.DeleteSelectedItem1Click();
    ASSERT_EQ(w.FileList().Count(), 2);
    EXPECT_EQ(w.FileList().At(0).file, avi);
    EXPECT_EQ(w.FileList().At(1).file, avi);
    select({1});
    QTest::keyClick(w.ListView1, Qt::Key_Delete);
    EXPECT_EQ(w.FileList().Count(), 1);
}

// Every command has its key, no key leads to two places, and Tab follows the settings' layout.
TEST_F(MainWindowTest, KeysReachTheCommands) {
    TestWindow w;
    ASSERT_TRUE(Activate(w));
    QStringList keys;
    for (const QAction* action : w.findChildren<QAction*>())
        for (const QKeySequence& key : action->shortcuts())
            keys << key.toString();
    for (const QAction* menu : w.menuBar()->actions())
        keys << QKeySequence::mnemonic(menu->text()).toString();
    for (const QAbstractButton* button : w.findChildren<QAbstractButton*>())
        if (const QKeySequence key = QKeySequence::mnemonic(button->text()); !key.isEmpty())
            keys << key.toString();
    EXPECT_EQ(keys.removeDuplicates(), 0) << keys.join(' ').toStdString();
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "Alt+F opens the File menu";
    EXPECT_EQ(menu->title(), "&File");
    menu->close();
    QTest::keyClick(&w, Qt::Key_F5);
    EXPECT_EQ(w.informed.back(), "Please Add Files To Convert!");
    QTest::keyClick(&w, Qt::Key_F1); // no program opens pages here
    EXPECT_TRUE(w.informed.back().startsWith("No program was found to open"));
    EXPECT_TRUE(w.informed.back().contains("index.html"));

    QList<QWidget*> chain;
    for (QWidget* at = w.ComboOutputFormat->nextInFocusChain(); at != w.ComboOutputFormat;
         at = at->nextInFocusChain())
        if (qobject_cast<QGroupBox*>(at->parentWidget()) && (at->focusPolicy() & Qt::TabFocus))
            chain << at;
    QList<QWidget*> laid_out = chain;
    std::sort(laid_out.begin(), laid_out.end(), [](QWidget* a, QWidget* b) {
        return std::pair(a->parentWidget()->x(), a->y()) <
               std::pair(b->parentWidget()->x(), b->y());
    });
    EXPECT_TRUE(chain == laid_out) << "Tab takes each group top down, the groups left to right";
}

// With the option on, the list comes back at the next start as it was left, a row that was
// converting as interrupted; with it off, nothing comes back.
TEST_F(MainWindowTest, TheListIsKeptBetweenSessionsWhenAsked) {
    const QString mp3 = QString::fromStdString(Media().mp3_audio_only);
    {
        TestWindow first;
        first.Form4->CheckBoxKeepList->setChecked(true);
        first.AddFiles({mp3, QString::fromStdString(Media().random_avi),
                        QString::fromStdString(Media().mp4_h264_aac), mp3});
        first.FileList().SetChecked(0, false);
        first.FileList().SetOutcome(2, "Fail", "a reason");
        first.FileList().SetProgress(3, "42%");
        ProcessUntil([] { return false; }, 400); // the changes, written together
        const std::vector<KeptRow> kept = ReadKeptList(KeptListPath());
        ASSERT_EQ(kept.size(), 4u);
        EXPECT_EQ(kept[3].outcome, kInterrupted);
    } // no close, as if the program died
    TestWindow second;
    ASSERT_EQ(second.FileList().Count(), 4);
    EXPECT_FALSE(second.FileList().At(0).checked);
    EXPECT_EQ(Cell(second, 1, 5), "Error");
    EXPECT_FALSE(second.FileList().At(1).reason.isEmpty());
    EXPECT_EQ(Cell(second, 2, 1), "640x480") << "probed again";
    EXPECT_EQ(Cell(second, 2, 5), "Fail");
    EXPECT_EQ(second.FileList().At(2).reason, "a reason");
    EXPECT_EQ(Cell(second, 3, 5), "Interrupted");
    EXPECT_TRUE(second.FileList().At(3).checked);
    EXPECT_TRUE(second.FileList().At(3).log.join('\n').contains("Interrupted"));
    second.Form4->CheckBoxKeepList->setChecked(false);
    second.close();
    TestWindow third;
    EXPECT_EQ(third.FileList().Count(), 0);
}

// The display aspect of "Original" is the picture's, pixels' shape included.
TEST_F(MainWindowTest, AnamorphicSourcesKeepTheirShape) {
    TestWindow w;
    w.AddFiles(
        {QString::fromStdString(testing::RealMediaPath("dv_ntsc_dvvideo_pcm_720x480_camcorder.dv")),
         QString::fromStdString(Media().mpg_mpeg2_sar)});
    EXPECT_NEAR(w.FileList().At(0).display_aspect, 4.0 / 3.0, 0.01);
    EXPECT_NEAR(w.FileList().At(1).display_aspect, 4.0 / 3.0, 0.01) << "720x576 at 16/15";
    ConversionChoices choices = w.Choices();
    for (int row = 0; row < 2; ++row) {
        const FileListModel::Row& r = w.FileList().At(row);
        const ConversionPlan plan =
            PlanConversion({r.file.toStdString(), r.video_size.toStdString(), r.display_aspect},
                           choices, "/tmp", false);
        EXPECT_EQ(plan.output.AspectRatio, "1.3333") << row;
    }
}

} // namespace
} // namespace clipwright
