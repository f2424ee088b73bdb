#include "app/conversion_driver.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <exception>

#include "app/profiles/job_submission.h"

namespace clipwright {

namespace {

int64_t NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString LeftText(int seconds) {
    return QStringLiteral("%1:%2 left")
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString MissingFolderText(const QString& folder) {
    return QStringLiteral("The output folder \"") + folder +
           QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new "
                          "output folder.");
}

QString CompletedText(int done, int failed) {
    QString text = QStringLiteral("All Conversions Completed\n\n%1 done").arg(done);
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    return text;
}

ConversionDriver::ConversionDriver(TFFmpegEngine& engine, FileListModel& rows, DriverView& view)
    : engine_(engine), rows_(rows), view_(view) {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { TimerConvertAgainTimer(); });
}

void ConversionDriver::ReceiveEngineEvents() {
    connection_.reset();
    TEngineConnection::Handlers handlers;
    handlers.OnLog = [this](int32_t index, TLogLevel level, const std::string& message) {
        QMetaObject::invokeMethod(
            this, [this, index, level, message] { EngineLog(index, level, message); },
            Qt::QueuedConnection);
    };
    handlers.OnProgress = [this](int32_t index, int32_t frame, int32_t fps, int32_t current, float,
                                 float, int64_t size, int32_t total) {
        QMetaObject::invokeMethod(
            this,
            [this, index, frame, fps, current, size, total] {
                EngineProgress(index, frame, fps, current, size, total);
            },
            Qt::QueuedConnection);
    };
    handlers.OnTerminate = [this](int32_t index, bool finished, bool exception,
                                  const std::string& message) {
        QMetaObject::invokeMethod(
            this,
            [this, index, finished, exception, message] {
                EngineTerminate(index, finished, exception, message);
            },
            Qt::QueuedConnection);
    };
    connection_.emplace(engine_, std::move(handlers));
}

void ConversionDriver::IgnoreEngineEvents() {
    connection_.reset();
}

void ConversionDriver::ButtonConvertClick() {
    if (AddingFiles || BatchRunning() || Converting())
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
    limit_ = std::max(1, view_.SimultaneousConversions());
    abort_requested_ = false;
    next_row_ = 0;
    job_rows_.clear();
    running_.clear();
    paces_.clear();
    outputs_.clear();
    done_ = failed_ = 0;
    timer_ticks_ = 0;
    seconds_left_ = -1;
    batch_started_ms_ = NowMs();
    timer_.start();
    view_.EnableAll(false);
    view_.SetStatusText(0, "Converting");
    engine_.ClearTasks();
    FillPlaces();
}

void ConversionDriver::FillPlaces() {
    // Every free place at once; a refused row leaves the rest to the timer, so that a new job
    // does not take the refused one's index while its log lines are on their way.
    while (static_cast<int>(running_.size()) < limit_ && StartNextRow()) {
    }
}

bool ConversionDriver::HasRowLeft() {
    while (next_row_ < rows_.Count() && !rows_.At(next_row_).checked)
        ++next_row_;
    return next_row_ < rows_.Count();
}

bool ConversionDriver::StartNextRow() {
    if (!HasRowLeft())
        return false;
    return StartRow(next_row_++);
}

bool ConversionDriver::StartRow(int row) {
    converting_ = true;
    if (running_.empty()) {
        engine_.ClearTasks();
        job_rows_.clear();
    }
    const FileListModel::Row& source = rows_.At(row);
    paces_[row] = {0, 0, std::max<int64_t>(source.facts.duration_us / 1000, 0), false};
    if (limit_ == 1)
        view_.SetProgressBar(0);
    const ConversionPlan plan = PlanConversion(
        {source.file.trimmed().toStdString(), source.video_size.toStdString(),
         source.display_aspect, source.facts},
        view_.Choices(),
        // The folder as checked: without the blanks around it, which name no folder here.
        view_.OutputFolder().trimmed().toStdString(), view_.Overwrite());
    for (const std::string& note : plan.notes)
        rows_.AppendLog(row, QString::fromStdString(note), false);
    if (!plan.Planned()) {
        if (plan.refusal == ConversionPlan::Refusal::NoProfile)
            view_.Inform(QString::fromStdString(plan.reason));
        RowFailed(row, QString::fromStdString(plan.reason));
        return false;
    }
    const auto output_file =
        outputs_.try_emplace(row, plan.output_file, plan.input.FileName, view_.Overwrite()).first;
    if (!output_file->second.Held()) {
        RowFailed(row, QString::fromStdString(output_file->second.Error()));
        return false;
    }
    const SubmittedJob job = SubmitPlan(engine_, plan);
    if (job.index >= 0)
        job_rows_[job.index] = row;
    if (job.step == SubmittedJob::Step::StartFailed)
        view_.EnableAll(true);
    if (!job.Started()) {
        RowFailed(row, QString::fromStdString(job.reason));
        if (job.step == SubmittedJob::Step::OutputRefused) {
            // Its log lines are on their way; the index is free again once they have arrived.
            QMetaObject::invokeMethod(
                this,
                [this, index = job.index, row] {
                    if (const auto found = job_rows_.find(index); found != job_rows_.end() &&
                                                                  found->second == row &&
                                                                  !running_.contains(index))
                        job_rows_.erase(found);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    running_.insert(job.index);
    converting_ = false;
    return true;
}

void ConversionDriver::RowFailed(int row, const QString& reason) {
    rows_.SetOutcome(row, OutcomeText(ConversionOutcome::Fail), reason);
    paces_[row].percent = 100;
    paces_[row].ended = true;
    outputs_.erase(row); // with its temporary file
    ++failed_;
    timer_ticks_ = 0;
    converting_ = false;
}

void ConversionDriver::TimerConvertAgainTimer() {
    if (converting_)
        return;
    if (static_cast<int>(running_.size()) >= limit_) {
        timer_ticks_ = 0;
        return;
    }
    if (!HasRowLeft()) {
        if (running_.empty())
            FinishBatch();
        return;
    }
    // The next row two ticks after a place became free.
    if (++timer_ticks_ < 2)
        return;
    timer_ticks_ = 0;
    StartNextRow();
}

void ConversionDriver::EndBatch() {
    timer_.stop();
    view_.SetProgressBar(0);
    view_.EnableAll(true);
    converting_ = false;
    seconds_left_ = -1;
    view_.SetStatusText(0, "Ready");
    view_.SetStatusText(1, "");
    view_.SetStatusText(2, "");
}

void ConversionDriver::FinishBatch() {
    engine_.ClearTasks();
    job_rows_.clear();
    EndBatch();
    view_.BatchCompleted(CompletedText(done_, failed_));
    view_.Inform(CompletedText(done_, failed_));
}

void ConversionDriver::ButtonStopConvertClick() {
    if (BatchRunning())
        StopAfterAsking("Stop all conversions?", Converting());
}

bool ConversionDriver::StopAfterAsking(const QString& question, bool ask) {
    if (ask) {
        engine_.Pause();
        if (!view_.AskYesNo(question)) {
            engine_.Resume();
            return false;
        }
        abort_requested_ = true;
    }
    // The running jobs end through the engine and read "Abort"; the controls come back now and
    // no completion message follows.
    engine_.Stop();
    EndBatch();
    return true;
}

int ConversionDriver::RowOf(int32_t index) const {
    const auto found = job_rows_.find(index);
    return found != job_rows_.end() && found->second < rows_.Count() ? found->second : -1;
}

void ConversionDriver::EngineProgress(int32_t index, int32_t frame_number, int32_t, int32_t current,
                                      int64_t size, int32_t total) {
    const int row = RowOf(index);
    if (row < 0 || !running_.contains(index))
        return;
    view_.ShowRow(row);
    const int percent =
        std::min(total > 0 ? static_cast<int>(int64_t{current} * 100 / total) : 0, 100);
    RowPace& pace = paces_[row];
    pace.percent = percent;
    pace.total_ms = total > 0 ? total : pace.total_ms;
    pace.done_ms = pace.total_ms > 0 ? std::min<int64_t>(current, pace.total_ms) : current;
    rows_.SetProgress(row, QString::number(percent) + "%");
    rows_.SetFrames(row, frame_number == -1 ? QString(" ") : QString::number(frame_number));
    if (!BatchRunning())
        return; // stopped: the rows still show how far they got
    view_.SetStatusText(1, "File Size : " + QString::number(size) + " Bytes");
    if (limit_ == 1)
        view_.SetProgressBar(percent);
    else
        ShowBatchProgress();
    ShowTimeLeft();
}

void ConversionDriver::ShowBatchProgress() {
    // The rows reached count by their progress, the checked rows ahead as not started.
    int64_t sum = 0;
    for (const auto& [row, pace] : paces_)
        sum += pace.percent;
    int rows = static_cast<int>(paces_.size());
    for (int row = next_row_; row < rows_.Count(); ++row)
        rows += rows_.At(row).checked ? 1 : 0;
    view_.SetProgressBar(rows > 0 ? static_cast<int>(sum / rows) : 0);
}

void ConversionDriver::ShowTimeLeft() {
    // The pace of the whole batch, so that it holds across rows of different lengths and with
    // several rows at once: the time since Convert per media millisecond converted so far.
    int64_t done = 0;
    int64_t left = 0;
    for (const auto& [row, pace] : paces_) {
        done += pace.done_ms;
        left += pace.ended ? 0 : std::max<int64_t>(pace.total_ms - pace.done_ms, 0);
    }
    // Rows of unknown length ahead count as none: the estimate grows when they are reached.
    for (int row = next_row_; row < rows_.Count(); ++row) {
        if (rows_.At(row).checked)
            left += std::max<int64_t>(rows_.At(row).facts.duration_us / 1000, 0);
    }
    const int64_t elapsed = NowMs() - batch_started_ms_;
    if (done <= 0 || elapsed <= 0)
        return;
    seconds_left_ = static_cast<int>(elapsed * left / done / 1000);
    view_.SetStatusText(2, LeftText(seconds_left_));
}

void ConversionDriver::EngineTerminate(int32_t index, bool finished, bool exception,
                                       const std::string& message) {
    // Each row is an engine batch of its own: the batch ends (index -1) say nothing more.
    if (index < 0 || !running_.contains(index))
        return;
    running_.erase(index);
    const int row = RowOf(index);
    timer_ticks_ = 0;
    if (row < 0)
        return;
    ConversionOutcome outcome = OutcomeOf(finished, exception, abort_requested_);
    QString reason = QString::fromStdString(message);
    if (const auto output = outputs_.find(row); output != outputs_.end()) {
        const std::string planned = output->second.FinalFile();
        if (outcome == ConversionOutcome::Done && !output->second.Commit()) {
            outcome = ConversionOutcome::Fail;
            reason = QString::fromStdString(output->second.Error());
        } else if (output->second.FinalFile() != planned) {
            rows_.AppendLog(row, "Saved as " + QString::fromStdString(output->second.FinalFile()),
                            false);
        }
        outputs_.erase(output); // an output not Done goes with its temporary file
    }
    if (outcome == ConversionOutcome::Fail && reason.isEmpty())
        reason = rows_.At(row).last_error;
    rows_.SetOutcome(row, OutcomeText(outcome),
                     outcome == ConversionOutcome::Fail ? reason : QString());
    RowPace& pace = paces_[row];
    pace.percent = 100;
    pace.ended = true;
    pace.done_ms = outcome == ConversionOutcome::Done ? pace.total_ms : pace.done_ms;
    done_ += outcome == ConversionOutcome::Done ? 1 : 0;
    failed_ += outcome == ConversionOutcome::Fail ? 1 : 0;
    if (BatchRunning())
        ShowTimeLeft();
    if (BatchRunning() && limit_ > 1) {
        ShowBatchProgress();
        // Side by side, a free place is taken at once; one at a time keeps the classic pause.
        FillPlaces();
    }
}

void ConversionDriver::EngineLog(int32_t index, TLogLevel level, const std::string& message) {
    const int row = RowOf(index);
    if (row >= 0)
        rows_.AppendLog(row, QString::fromStdString(message), level <= llError);
}

} // namespace clipwright
