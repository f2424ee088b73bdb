// The component's job list, and the freeing of removed jobs by the reaper thread once nothing
// uses them any more (the locks and their order are in engine.h).
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/component/engine.h"
#include "FFMPEG/component/engine_internal.h"

namespace clipwright {

TFFmpegList::Entry& TFFmpegList::Add(std::unique_ptr<TFFmpeg> job, uint64_t serial) {
    job->Index = Count();
    Entry entry;
    entry.job = std::move(job);
    entry.serial = serial;
    entries_.push_back(std::move(entry));
    return entries_.back();
}

TFFmpegList::Entry TFFmpegList::Take(int index) {
    Entry entry = std::move((*this)[index]);
    entries_.erase(entries_.begin() + index);
    for (int i = index; i < Count(); ++i)
        entries_[i].job->Index = i;
    entry.job->Index = -1;
    return entry;
}

std::vector<TFFmpegList::Entry> TFFmpegList::TakeAll() {
    for (Entry& entry : entries_)
        entry.job->Index = -1;
    return std::exchange(entries_, {});
}

TFFmpegList::Entry& TFFmpegList::operator[](int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range(FormatText("List index out of bounds (%d)", index));
    return entries_[index];
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* job) const {
    // Compared, never followed: the job may be gone.
    for (int i = 0; i < Count(); ++i) {
        if (entries_[i].job.get() == job)
            return i;
    }
    return -1;
}

int TFFmpegList::IndexOfSerial(uint64_t serial) const {
    for (int i = 0; i < Count(); ++i) {
        if (entries_[i].serial == serial)
            return i;
    }
    return -1;
}

int TFFmpegList::IndexOfThread(uint32_t thread_id) const {
    for (int i = 0; i < Count(); ++i) {
        if (entries_[i].job->ThreadID == thread_id)
            return i;
    }
    return -1;
}

// ---- freeing ----

void TCustomFFmpegEngine::Unpin(const TFFmpeg& job) {
    {
        std::lock_guard guard(list_lock_);
        for (std::vector<TFFmpegList::Entry>* entries : {&jobs_.Entries(), &removed_}) {
            for (TFFmpegList::Entry& entry : *entries) {
                if (entry.job.get() != &job)
                    continue;
                --entry.pins;
                entry.in_place = false;
                if (entry.state == TJobState::Configuring)
                    entry.state = TJobState::Queued;
            }
        }
    }
    reaper_wake_.notify_all();
}

void TCustomFFmpegEngine::Bury(TFFmpegList::Entry entry) {
    removed_.push_back(std::move(entry));
    if (!reaper_.joinable() && !reaper_stop_)
        reaper_ = std::thread([this] { ReaperLoop(); });
}

void TCustomFFmpegEngine::ReaperLoop() {
    std::unique_lock guard(list_lock_);
    for (;;) {
        std::vector<TFFmpegList::Entry> ready;
        for (auto entry = removed_.begin(); entry != removed_.end();) {
            if (entry->pins > 0) {
                ++entry;
                continue;
            }
            being_freed_.push_back(entry->job.get());
            ready.push_back(std::move(*entry));
            entry = removed_.erase(entry);
        }
        if (ready.empty()) {
            if (reaper_stop_)
                return;
            reaper_wake_.wait(guard);
            continue;
        }
        guard.unlock();
        ready.clear(); // each job's destructor waits for its thread
        guard.lock();
        being_freed_.clear();
        freed_.notify_all();
    }
}

} // namespace clipwright
