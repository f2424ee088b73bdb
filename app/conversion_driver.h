// The conversion driver: the checked rows of the file list turned into engine jobs, one at a
// time, with the row texts, the 100 ms timer and its two ticks, stopping and the end of a
// batch. It updates the file list's model; the window renders the rest through DriverView; the
// engine's events reach it on the GUI thread (the bridge posts them).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>

#include "FFMPEG/engine.h"
#include "app/file_list_model.h"
#include "app/profiles/conversion_plan.h"

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
    // The profile, its lists as selected and the volume, as the conversion is to use them.
    virtual ConversionChoices Choices() = 0;
    virtual void Inform(const QString& text) = 0;
    virtual bool AskYesNo(const QString& text) = 0;
    virtual void BrowseForFolder() = 0;
    virtual void EnableAll(bool enabled) = 0;
};

class ConversionDriver : public QObject {
public:
    ConversionDriver(TFFmpegEngine& engine, FileListModel& rows, DriverView& view);

    bool Converting() const { return converting_; }
    bool AddingFiles = false;

    void ButtonConvertClick();
    void ButtonStopConvertClick();
    // The engine's events, on the GUI thread.
    void EngineProgress(int32_t index, int32_t frame_number, int32_t fps, int32_t current_duration,
                        int64_t current_size, int32_t total_duration);
    void EngineTerminate(int32_t index, bool finished, bool exception, const std::string& message);

    // Seconds left for the running row, estimated from its progress so far; -1 unknown.
    int SecondsLeft() const { return seconds_left_; }

private:
    void AddFileToFFMPEG();
    void TimerConvertAgainTimer();
    void FinishBatch();
    void Ended(bool last_row);

    TFFmpegEngine& engine_;
    FileListModel& rows_;
    DriverView& view_;
    QTimer timer_;
    bool converting_ = false;
    bool abort_requested_ = false;
    bool batch_finished_ = false;
    bool is_last_row_ = false;
    int current_row_ = -1;
    int timer_ticks_ = 0;
    int64_t row_started_ms_ = 0;
    int seconds_left_ = -1;
};

// "The output folder \"...\"" message, with its LF CR line breaks.
QString MissingFolderText(const QString& folder);

} // namespace clipwright
