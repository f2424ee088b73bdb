// Rows side by side: a batch of audio files and one of videos, each short, converted by the
// window's own driver and file list (no window: a minimal view), one row at a time and with
// "Auto" simultaneous conversions, in one run. Prints the wall time of each and the speed-up.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/conversion_driver.h"
#include "app/file_list_model.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/program_folders.h"
#include "bench/bench_common.h"
#include "tests/support/media_gen/media_gen.h"

namespace {

namespace fs = std::filesystem;
using namespace clipwright;

// What the driver needs of a window, without one: the folder, the profile and the count.
class BenchView : public DriverView {
public:
    BenchView(std::string profile, std::string folder, int at_once)
        : folder_(std::move(folder)), at_once_(at_once) {
        choices_.profile = std::move(profile);
        FillProfileCombos(choices_.lists, choices_.profile, choices_.output_type);
        choices_.volume_level = VolumeLevel(5);
    }
    void ShowRow(int) override {}
    void SetProgressBar(int) override {}
    void SetStatusText(int, const QString&) override {}
    QString OutputFolder() const override { return QString::fromStdString(folder_); }
    bool Overwrite() const override { return true; }
    int SimultaneousConversions() const override { return at_once_; }
    ConversionChoices Choices() override { return choices_; }
    void Inform(const QString& text) override {
        message = text;
        QCoreApplication::exit(0);
    }
    bool AskYesNo(const QString&) override { return true; }
    void BrowseForFolder() override {}
    void EnableAll(bool) override {}
    QString message;

private:
    ConversionChoices choices_;
    std::string folder_;
    int at_once_;
};

// Seconds for the whole batch; the end-of-batch message in `summary`.
double ConvertBatch(TFFmpegEngine& engine, const std::vector<std::string>& files,
                    const std::string& profile, int at_once, QString& summary) {
    const std::string folder = bench::TempPath("batch_out");
    fs::remove_all(folder);
    fs::create_directories(folder);
    FileListModel rows;
    for (const std::string& file : files)
        rows.Append({.file = QString::fromStdString(file), .video_size = " "});
    BenchView view(profile, folder, at_once);
    ConversionDriver driver(engine, rows, view);
    driver.ReceiveEngineEvents();
    QElapsedTimer clock;
    clock.start();
    driver.ButtonConvertClick();
    QCoreApplication::exec();
    const double seconds = clock.elapsed() / 1000.0;
    driver.IgnoreEngineEvents();
    summary = view.message.section('\n', -1);
    return seconds;
}

std::vector<std::string> Sources(const char* name, int count, const testing::MediaSpec& spec) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(bench::TempPath(std::string(name) + std::to_string(i) + ".mkv"));
        testing::WriteMedia(files.back(), spec);
    }
    return files;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    TFFmpegEngine engine;
    if (!engine.LoadAVLib(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastErrMsg().c_str());
        return 2;
    }
    engine.SetLogLevel(llError);
    const auto audio = Sources(
        "tone", 20,
        {.audio = testing::AudioSpec{.codec = "pcm_s16le", .sample_rate = 44100, .seconds = 30}});
    const auto video = Sources("clip", 8,
                               {.video = testing::VideoSpec{.width = 640,
                                                            .height = 480,
                                                            .frame_rate = {25, 1},
                                                            .frames = 750,
                                                            .bit_rate = 2000000},
                                .audio = testing::AudioSpec{.codec = "mp2", .seconds = 30}});
    const struct {
        const char* what;
        const std::vector<std::string>& files;
        const char* profile;
    } batches[] = {{"20 audio files of 30 s to MP3", audio, "MP3 - Mpeg Layer3 Audio (*.mp3)"},
                   {"8 videos of 30 s 640x480 to AVI (MPEG-4 + MP3)", video,
                    "AVI - Audio Video Interleave (*.avi)"}};
    const int automatic = std::max(1, QThread::idealThreadCount());
    std::printf("a batch through the window's driver, one row at a time against Auto (%d)\n",
                automatic);
    for (const auto& batch : batches) {
        QString one_summary;
        QString auto_summary;
        const double one = ConvertBatch(engine, batch.files, batch.profile, 1, one_summary);
        const double all =
            ConvertBatch(engine, batch.files, batch.profile, automatic, auto_summary);
        // One at a time pauses for the timer's second tick (0.1 to 0.2 s) between rows; side
        // by side takes a free place at once. The speed-up without those pauses is the
        // conversions' own.
        const double rows = static_cast<double>(batch.files.size() - 1);
        std::printf("%s\n  one at a time: %7.2f s  (%s)\n  Auto:          %7.2f s  (%s)\n"
                    "  speed-up:      %7.2f; %.2f to %.2f without the pauses between rows\n",
                    batch.what, one, one_summary.toUtf8().constData(), all,
                    auto_summary.toUtf8().constData(), one / all, (one - 0.2 * rows) / all,
                    (one - 0.1 * rows) / all);
    }
    return 0;
}
