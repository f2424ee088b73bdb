#include "app/conversion_driver.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <exception>

#include "app/profiles/conversion_plan.h"

namespace clipwright {

QString MissingFolderText(const QString& folder) {
    return QStringLiteral("The output folder \"") + folder +
           QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new "
                          "output folder.");
}

ConversionDriver::ConversionDriver(TFFmpegEngine& engine, FileListModel& rows, DriverView& view)
    : engine_(engine), rows_(rows), view_(view) {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
}

void ConversionDriver::ButtonConvertClick() {
    if (AddingFiles || converting_)
        return;
    rows_.ClearProgress();
    if (rows_.Count() == 0) {
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
    is_last_row_ = false;
    batch_finished_ = false;
    seconds_left_ = -1;

    const int rows = rows_.Count();
    ++current_row_;
    while (current_row_ < rows - 1 && !rows_.At(current_row_).checked)
        ++current_row_;
    is_last_row_ = current_row_ >= rows - 1;
    if (current_row_ >= rows || !rows_.At(current_row_).checked) {
        converting_ = false;
        if (is_last_row_)
            batch_finished_ = true;
        return;
    }

    const ConversionPlan plan =
        PlanConversion({rows_.At(current_row_).file.trimmed().toStdString(),
                        rows_.At(current_row_).video_size.toStdString()},
                       view_.Choices(),
                       // The folder as checked: without the blanks around it, which name no
                       // folder here.
                       view_.OutputFolder().trimmed().toStdString(), view_.Overwrite());
    if (!plan.Planned()) {
        if (plan.refusal == ConversionPlan::Refusal::NoProfile)
            view_.Inform(QString::fromStdString(plan.reason));
        rows_.SetProgress(current_row_, OutcomeText(ConversionOutcome::Fail));
        Ended(is_last_row_);
        return;
    }
    TInputOptions input = plan.input;
    const int32_t job = engine_.AddInputFile(plan.input.FileName, &input);
    if (job < 0) {
        rows_.SetProgress(current_row_, OutcomeText(ConversionOutcome::Fail));
        Ended(is_last_row_);
        return;
    }
    TOutputOptions output = plan.output;
    if (!engine_.SetOutputFile(job, plan.output_file, &output)) {
        rows_.SetProgress(current_row_, OutcomeText(ConversionOutcome::Fail));
        engine_.RemoveTask(job);
        Ended(is_last_row_);
        return;
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
    rows_.SetProgress(current_row_, QString::number(std::min(percent, 100)) + "%");
    view_.SetStatusText(1, "File Size : " + QString::number(size) + " Bytes");
    rows_.SetFrames(current_row_,
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

void ConversionDriver::EngineTerminate(int32_t index, bool finished, bool exception,
                                       const std::string&) {
    converting_ = false;
    if (index >= 0 && current_row_ >= 0)
        rows_.SetProgress(current_row_,
                          OutcomeText(OutcomeOf(finished, exception, abort_requested_)));
    if (batch_finished_ && index < 0) {
        engine_.ClearTasks();
        view_.SetProgressBar(0);
        converting_ = false;
    }
}

} // namespace clipwright
