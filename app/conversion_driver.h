// The conversion driver: the checked rows of the file list turned into engine jobs, with the
// row texts, the 100 ms timer and its two ticks, stopping and the end of a batch. With one
// conversion at a time it is the classic driver: a row's job is built, run, and the next row
// taken two ticks after it ended. With more, up to that many rows run at once, each its own
// engine batch of one job, and a row is taken as soon as a place is free (after a refused row,
// at the timer's second tick). A row's output is written under a temporary name and takes its
// final name only when the row is Done. Rows are read when they are reached, so a row not reached
// yet may be checked or unchecked while the batch runs. It updates the file list's model; the
// window renders the rest through DriverView. One thread (the GUI's): the engine's events reach it
// through ReceiveEngineEvents.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "FFMPEG/component/engine.h"
#include "FFMPEG/component/engine_connection.h"
#include "app/file_list_model.h"
#include "app/profiles/conversion_plan.h"
#include "app/profiles/finished_output.h"

namespace clipwright {

// What the driver needs of the window.
class DriverView {
public:
    virtual ~DriverView() = default;
    virtual void ShowRow(int row) = 0;
    virtual void SetProgressBar(int percent) = 0;
    virtual void SetStatusText(int panel, const QString& text) = 0;
    virtual QString OutputFolder() const = 0;
    virtual bool Overwrite() const = 0;
    // How many rows may convert at once (1 or more).
    virtual int SimultaneousConversions() const = 0;
    // The profile, its lists as selected and the volume, as the conversion is to use them.
    virtual ConversionChoices Choices() = 0;
    virtual void Inform(const QString& text) = 0;
    virtual bool AskYesNo(const QString& text) = 0;
    virtual void BrowseForFolder() = 0;
    virtual void EnableAll(bool enabled) = 0;
    // The batch ran to its end; `summary` is the end-of-batch message, told next.
    virtual void BatchCompleted(const QString& summary) { (void)summary; }
};

class ConversionDriver : public QObject {
public:
    ConversionDriver(TFFmpegEngine& engine, FileListModel& rows, DriverView& view);

    // A row's job is being built or runs.
    bool Converting() const { return converting_ || !running_.empty(); }
    // From Convert until the batch has ended or was stopped.
    bool BatchRunning() const { return timer_.isActive(); }
    bool AddingFiles = false;
    // The rows whose jobs run now.
    int RunningRows() const { return static_cast<int>(running_.size()); }

    // The engine's events, raised on its threads, reach the handlers below on this object's
    // thread: each is copied and posted, and the engine's thread goes on at once.
    void ReceiveEngineEvents();
    // No more events are posted (those posted already still arrive); also when the driver goes.
    void IgnoreEngineEvents();

    void ButtonConvertClick();
    void ButtonStopConvertClick();
    // With `ask`, the running jobs paused while `question` is asked: No resumes them and gives
    // false. Then the batch stops (the running rows end as Abort through the engine) and true.
    bool StopAfterAsking(const QString& question, bool ask);
    // The engine's events, on this object's thread.
    void EngineProgress(int32_t index, int32_t frame_number, int32_t fps, int32_t current_duration,
                        int64_t current_size, int32_t total_duration);
    void EngineTerminate(int32_t index, bool finished, bool exception, const std::string& message);
    void EngineLog(int32_t index, TLogLevel level, const std::string& message);

    // Seconds left for the batch: the conversion time per media second so far, times the media
    // seconds of the checked rows not yet converted; -1 unknown.
    int SecondsLeft() const { return seconds_left_; }

private:
    // Skips unchecked rows; false when no checked row is left.
    bool HasRowLeft();
    // Builds and starts the next checked row's job; false when none started.
    bool StartNextRow();
    void FillPlaces();
    bool StartRow(int row);
    void RowFailed(int row, const QString& reason);
    void TimerConvertAgainTimer();
    void FinishBatch();
    // The controls back, the timer and the status texts reset.
    void EndBatch();
    void ShowBatchProgress();
    void ShowTimeLeft();
    int RowOf(int32_t index) const;

    TFFmpegEngine& engine_;
    FileListModel& rows_;
    DriverView& view_;
    QTimer timer_;
    int limit_ = 1;
    bool converting_ = false; // a row's job is being built
    bool abort_requested_ = false;
    int next_row_ = 0;                // the first row not reached yet
    std::map<int32_t, int> job_rows_; // engine job index → row, since the last ClearTasks
    std::set<int32_t> running_;       // the jobs started and not ended
    struct RowPace {
        int percent = 0;
        int64_t done_ms = 0;  // media converted
        int64_t total_ms = 0; // media to convert, 0 unknown
        bool ended = false;
    };
    std::map<int, RowPace> paces_; // the rows reached this batch
    // The temporary outputs of the rows started and not ended.
    std::map<int, PartialOutput> outputs_;
    int done_ = 0;
    int failed_ = 0;
    int timer_ticks_ = 0;
    int64_t batch_started_ms_ = 0;
    int seconds_left_ = -1;
    // Last: it goes first, so no event is posted to a driver being destroyed.
    std::optional<TEngineConnection> connection_;
};

// "The output folder \"...\"" message, with its LF CR line breaks.
QString MissingFolderText(const QString& folder);

// The end-of-batch message: "All Conversions Completed" and what became of the rows.
QString CompletedText(int done, int failed);

} // namespace clipwright
