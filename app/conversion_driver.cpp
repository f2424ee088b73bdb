#include "app/conversion_driver.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <exception>
#include <filesystem>

#include "app/profiles/output_naming.h"

namespace clipwright {

QString MissingFolderText(const QString& folder) {
    return QStringLiteral("The output folder \"") + folder +
           QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new "
                          "output folder.");
}

ConversionDriver::ConversionDriver(TFFmpegEngine& engine, DriverView& view)
    : engine_(engine), view_(view) {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
}

void ConversionDriver::ButtonConvertClick() {
    if (AddingFiles || converting_)
        return;
    view_.ClearRowProgress();
    if (view_.RowCount() == 0) {
        view_.Inform("Please Add Files To Convert!");
        return;
    }
    const QString folder = view_.OutputFolder();
    if (folder.isEmpty()) {
        view_.Inform("Please select an output folder!");
        view_.BrowseForFolder();
        return;
    }
    if (!QFileInfo(folder.trimmed()).isDir()) {
        view_.Inform(MissingFolderText(folder));
        view_.BrowseForFolder();
        return;
    }
    converting_ = true;
    timer_.start();
    abort_requested_ = false;
    view_.EnableAll(false);
    engine_.ClearTasks();
    current_row_ = -1;
    AddFileToFFMPEG();
}

void ConversionDriver::Ended(bool last_row) {
    if (last_row) {
        timer_.stop();
        view_.Inform("All Conversions Completed");
        engine_.Stop();
        view_.SetProgressBar(0);
        view_.EnableAll(true);
        converting_ = false;
        batch_finished_ = true;
    } else {
        timer_ticks_ = 0;
        converting_ = false;
    }
}

void ConversionDriver::AddFileToFFMPEG() {
    engine_.ClearTasks();
    view_.SetProgressBar(0);
    std::string extension_type = view_.OutputType();
    is_last_row_ = false;
    batch_finished_ = false;
    seconds_left_ = -1;

    const int rows = view_.RowCount();
    ++current_row_;
    while (current_row_ < rows - 1 && !view_.RowChecked(current_row_))
        ++current_row_;
    is_last_row_ = current_row_ >= rows - 1;
    if (current_row_ >= rows || !view_.RowChecked(current_row_)) {
        converting_ = false;
        if (is_last_row_)
            batch_finished_ = true;
        return;
    }

    try {
        const std::string source = view_.RowCaption(current_row_).trimmed().toStdString();
        // The folder as checked: without the blanks around it, which name no folder here.
        const std::string output =
            OutputFileName(source, view_.OutputFolder().trimmed().toStdString(), extension_type,
                           view_.Overwrite());
        std::error_code error;
        if (std::filesystem::equivalent(source, output, error)) {
            // Writing the output would destroy the input.
            view_.SetRowProgress(current_row_, "Fail");
            Ended(is_last_row_);
            return;
        }
        TInputOptions input;
        InitInputOptions(input);
        input.FileName = source;
        input.StartTime = 0;
        const int32_t job = engine_.AddInputFile(source, &input);
        if (job < 0) {
            view_.SetRowProgress(current_row_, "Fail");
            Ended(is_last_row_);
            return;
        }
        TOutputOptions options;
        InitOutputOptions(options);
        view_.BuildOutputOptions(current_row_, options);
        if (!engine_.SetOutputFile(job, output, &options)) {
            view_.SetRowProgress(current_row_, "Fail");
            engine_.RemoveTask(job);
            Ended(is_last_row_);
            return;
        }
    } catch (const std::exception&) {
        view_.Inform("Fail to add file to list!");
    }
    row_started_ms_ = QDateTime::currentMSecsSinceEpoch();
    try {
        engine_.StartConvert(1);
    } catch (const std::exception&) {
        engine_.Stop();
        view_.EnableAll(true);
    }
    if (is_last_row_)
        batch_finished_ = true;
}

void ConversionDriver::TimerConvertAgainTimer() {
    if (converting_)
        return;
    if (batch_finished_) {
        FinishBatch();
        return;
    }
    if (++timer_ticks_ < 2)
        return;
    timer_ticks_ = 0;
    converting_ = true;
    AddFileToFFMPEG();
}

void ConversionDriver::FinishBatch() {
    timer_.stop();
    engine_.ClearTasks();
    view_.Inform("All Conversions Completed");
    view_.SetProgressBar(0);
    view_.EnableAll(true);
    converting_ = false;
    seconds_left_ = -1;
    view_.SetStatusText(2, "");
}

void ConversionDriver::ButtonStopConvertClick() {
    if (!converting_ && !timer_.isActive())
        return;
    engine_.Pause();
    if (view_.AskYesNo("Stop all conversions?")) {
        abort_requested_ = true;
        batch_finished_ = true;
        engine_.Stop();
    } else {
        engine_.Resume();
    }
}

void ConversionDriver::EngineProgress(int32_t, int32_t frame_number, int32_t, int32_t current,
                                      int64_t size, int32_t total) {
    if (current_row_ < 0)
        return;
    view_.ShowRow(current_row_);
    const int percent = total > 0 ? static_cast<int>(int64_t{current} * 100 / total) : 0;
    view_.SetRowProgress(current_row_, QString::number(std::min(percent, 100)) + "%");
    view_.SetStatusText(1, "File Size : " + QString::number(size) + " Bytes");
    view_.SetRowFrames(current_row_,
                       frame_number == -1 ? QString(" ") : QString::number(frame_number));
    view_.SetProgressBar(std::min(percent, 100));
    // The time left of the running row, from its pace so far.
    const int64_t elapsed = QDateTime::currentMSecsSinceEpoch() - row_started_ms_;
    if (percent > 0 && percent < 100 && elapsed > 0) {
        seconds_left_ = static_cast<int>(elapsed * (100 - percent) / percent / 1000);
        view_.SetStatusText(2, QStringLiteral("%1:%2 left")
                                   .arg(seconds_left_ / 60)
                                   .arg(seconds_left_ % 60, 2, 10, QLatin1Char('0')));
    }
}

void ConversionDriver::EngineTerminate(int32_t index, bool, bool exception, const std::string&) {
    converting_ = false;
    if (index >= 0 && current_row_ >= 0)
        view_.SetRowProgress(current_row_, exception          ? "Fail"
                                           : abort_requested_ ? "Abort"
                                                              : "Done");
    if (batch_finished_ && index < 0) {
        engine_.ClearTasks();
        view_.SetProgressBar(0);
        converting_ = false;
    }
}

} // namespace clipwright
