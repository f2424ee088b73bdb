// A model of what the job queue keeps true, checked against random sequences of calls made from
// the test's thread and from inside the component's events, with short real jobs: each job ends
// at most once, and exactly once when its batch took it and it was not removed; a job's end says
// what its set-up and the calls around it allow; each batch ends once, after its jobs; the list
// and its indexes are what the calls made of it; nothing hangs.
//
// A sequence comes from its seed. CLIPWRIGHT_MODEL_SEQUENCES sets how many run (seeds 1 to N; a
// few by default, more in CI's sanitizer passes); CLIPWRIGHT_MODEL_SEED=N replays one (its calls;
// the timing of the events is the machine's).
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/component/engine.h"
#include "tests/engine/engine_events.h"
#include "tests/engine/job_runner.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::Eventually;
using testing::Media;
using testing::Termination;
using testing::Watchdog;

const char* const kNoOutput = "Must supply at least one output file";

// The inputs, with the outputs made from them: tens of milliseconds, or a few hundred for the
// long one, so that calls meet jobs queued, running and ended.
struct Input {
    const std::string& (*file)();
    const char* extension;
    const char* options;
};
const Input kInputs[] = {
    {[]() -> const std::string& { return Media().mp3_audio_only; }, ".wav", "t=0.2"},
    {[]() -> const std::string& { return Media().avi_mpeg4_mp2; }, ".avi",
     "vcodec=copy\nacodec=copy"},
    {[]() -> const std::string& { return Media().avi_long; }, ".avi", "vcodec=mpeg4"},
};

int EnvNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// Serialises the calls that change the list with the model's record of them. The test's thread
// waits for it; a handler only tries it, and never on the thread that holds it (its call is
// then inside that holder's), so a handler never waits while the engine holds its event lock.
class Gate {
public:
    void Lock() {
        lock_.lock();
        owner_ = std::this_thread::get_id();
    }
    bool TryLock() {
        if (owner_.load() == std::this_thread::get_id() || !lock_.try_lock())
            return false;
        owner_ = std::this_thread::get_id();
        return true;
    }
    void Unlock() {
        owner_ = std::thread::id();
        lock_.unlock();
    }

private:
    std::mutex lock_;
    std::atomic<std::thread::id> owner_;
};

struct JobModel {
    int id = 0;
    const TFFmpeg* job = nullptr; // while listed
    int input = 0;                // which of kInputs
    bool has_output = false;
    int batch = -1;          // none yet
    bool stopped = false;    // a Stop came while its batch was open
    bool unstarted = false;  // ... and it had no thread after that Stop: it may not finish
    bool left_batch = false; // removed while its batch was open
    int ends = 0;
    bool finished = false; // what its end said
};

struct BatchModel {
    std::set<int> outstanding; // jobs neither ended nor removed
    bool ended = false;
};

// What the calls made so far allow. Every member is guarded by lock_.
class Model {
public:
    std::mutex lock_;
    std::vector<std::unique_ptr<JobModel>> jobs_;
    std::vector<JobModel*> listed_; // the list as the component must have it
    std::vector<BatchModel> batches_;
    int batch_ends_ = 0;
    std::vector<std::string> faults_;

    JobModel& Listed(const TFFmpeg* job) {
        for (JobModel* model : listed_) {
            if (model->job == job)
                return *model;
        }
        static JobModel unknown;
        faults_.push_back("an event for a job that is not listed");
        return unknown;
    }
    // A removal, recorded before the call that removes. The batch it leaves without jobs, if
    // any: that call raises its end before it returns.
    int Leave(JobModel& job) {
        if (job.batch < 0 || batches_[job.batch].outstanding.erase(job.id) == 0)
            return -1;
        job.left_batch = true;
        return batches_[job.batch].outstanding.empty() ? job.batch : -1;
    }
    void CheckEnded(const std::vector<int>& batches) {
        for (const int batch : batches) {
            if (batch >= 0 && !batches_[batch].ended)
                faults_.push_back("batch " + std::to_string(batch) + " left without its end");
        }
    }
    void JobEnd(JobModel& job, bool finished, bool exception, const std::string& message) {
        if (++job.ends > 1)
            faults_.push_back("job " + std::to_string(job.id) + " ended twice");
        job.finished = finished;
        if (job.batch < 0)
            faults_.push_back("job " + std::to_string(job.id) + " ended outside a batch");
        else
            batches_[job.batch].outstanding.erase(job.id);
        if (exception && (job.has_output || message != kNoOutput))
            faults_.push_back("job " + std::to_string(job.id) + " failed: " + message);
        if (!job.has_output && finished)
            faults_.push_back("job " + std::to_string(job.id) + " finished without an output");
        if (job.has_output && !job.stopped && !job.left_batch && !finished)
            faults_.push_back("job " + std::to_string(job.id) + " did not finish");
    }
    void BatchEnd() {
        ++batch_ends_;
        for (BatchModel& batch : batches_) {
            if (!batch.ended && batch.outstanding.empty()) {
                batch.ended = true;
                return;
            }
        }
        faults_.push_back("a batch end before the ends of its jobs");
    }
    bool AllBatchesEnded() {
        std::lock_guard guard(lock_);
        return std::all_of(batches_.begin(), batches_.end(),
                           [](const BatchModel& batch) { return batch.ended; });
    }
};

class Sequence {
public:
    explicit Sequence(unsigned seed)
        : seed_(seed), rng_(seed), handler_rng_(seed * 7919u + 1),
          folder_(testing::OutputPath("model", "seed" + std::to_string(seed))),
          owner_(std::make_unique<TFFmpegEngine>()), engine_(owner_.get()) {
        std::filesystem::create_directories(folder_);
        engine_->OnTerminate = [this](int32_t index, bool finished, bool exception,
                                      const std::string& message) {
            OnEnd(index, finished, exception, message);
        };
        engine_->OnProgress = [this](int32_t index, int32_t, int32_t, int32_t, float, float,
                                     int64_t, int32_t) { OnProgress(index); };
        engine_->OnLog = [this](int32_t index, TLogLevel, const std::string&) {
            if (index >= engine_->TaskCount())
                Fault("a log line for index " + std::to_string(index) + " past the list");
        };
        engine_->SetProgressInterval(100);
    }
    ~Sequence() {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }

    void Run() {
        ASSERT_TRUE(engine_->LoadAVLib("", true));
        const int steps = 12 + static_cast<int>(rng_() % 12);
        for (int step = 0; step < steps; ++step) {
            gate_.Lock();
            Step();
            CheckList();
            gate_.Unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(rng_() % 15));
        }
        if (rng_() % 3 != 0) {
            // Let everything end, then look at the list at rest.
            engine_->Resume();
            gate_.Lock();
            StopAll();
            gate_.Unlock();
            EXPECT_TRUE(Eventually([this] { return model_.AllBatchesEnded(); }, 30))
                << "a batch never ended";
            gate_.Lock();
            CheckList();
            gate_.Unlock();
        }
        // Destroyed at rest or with jobs running: every end is raised by the time it returns.
        closing_ = true;
        MarkStopped();
        owner_.reset();
        std::lock_guard guard(model_.lock_);
        for (const std::string& fault : model_.faults_)
            ADD_FAILURE() << fault;
        for (const std::unique_ptr<JobModel>& job : model_.jobs_) {
            const bool must_end = job->batch >= 0 && !job->left_batch;
            if (must_end && job->ends != 1)
                ADD_FAILURE() << "job " << job->id << " ended " << job->ends << " times";
            if (job->unstarted && job->finished)
                ADD_FAILURE() << "job " << job->id << " ran after a Stop found it unstarted";
        }
        int batches = 0;
        for (const BatchModel& batch : model_.batches_)
            batches += batch.ended ? 1 : 0;
        EXPECT_EQ(batches, static_cast<int>(model_.batches_.size())) << "batches left open";
        EXPECT_EQ(model_.batch_ends_, static_cast<int>(model_.batches_.size()));
    }

private:
    // One call from the test's thread, with the gate held.
    void Step() {
        const unsigned pick = rng_() % 100;
        const int count = ListedCount();
        if (pick < 28) {
            // Mostly given an output at once, as programs do; some never get one.
            if (Add(rng_() % 10 == 0) && rng_() % 4 != 0)
                SetOutput(count, rng_() % 8 == 0);
        } else if (pick < 44 && count > 0) {
            // Mostly a job that may still take one; sometimes any, to be refused.
            SetOutput(Pick(count, 5, [](const JobModel& job) { return job.batch < 0; }),
                      rng_() % 6 == 0);
        } else if (pick < 56 && count > 0) {
            // Half the time a job of a batch, that has not ended yet.
            Remove(Pick(count, 2,
                        [](const JobModel& job) { return job.batch >= 0 && job.ends == 0; }));
        } else if (pick < 61) {
            Clear();
        } else if (pick < 75) {
            Start(rng_() % 8 == 0 ? 0 : 1 + static_cast<int>(rng_() % 3));
            if (rng_() % 4 == 0)
                StopAll(); // while the batch still has jobs to start
        } else if (pick < 80) {
            StopAll();
        } else if (pick < 85) {
            engine_->Pause();
        } else if (pick < 92) {
            engine_->Resume();
        } else {
            gate_.Unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(30 + rng_() % 60));
            gate_.Lock();
        }
    }

    // The calls below are made with the gate held, by the test's thread or a handler.
    // True when a job was added.
    bool Add(bool missing) {
        const int kind = next_name_++ % 3;
        const std::string input = missing ? folder_ + "/missing.avi" : kInputs[kind].file();
        const int32_t before = engine_->TaskCount();
        const int32_t index = engine_->AddInputFile(input, nullptr);
        if (missing) {
            if (index != -1 || engine_->LastErrMsg() != input + ": no such file or directory")
                Fault("a missing input was added");
            return false;
        }
        if (index != before) {
            Fault("added at " + std::to_string(index) + " to a list of " + std::to_string(before));
            return false;
        }
        std::lock_guard guard(model_.lock_);
        auto job = std::make_unique<JobModel>();
        job->id = static_cast<int>(model_.jobs_.size());
        job->job = &engine_->Task(index);
        job->input = kind;
        model_.listed_.push_back(job.get());
        model_.jobs_.push_back(std::move(job));
        return true;
    }

    void SetOutput(int index, bool refused_name) {
        JobModel* job = nullptr;
        {
            std::lock_guard guard(model_.lock_);
            job = model_.listed_[index];
        }
        const bool queued = job->batch < 0;
        const Input& kind = kInputs[job->input];
        TOutputOptions out;
        out.ExtraOptions = kind.options;
        const std::string name =
            folder_ + "/" + std::to_string(next_name_++) + (refused_name ? ".xyz" : kind.extension);
        const bool done = engine_->SetOutputFile(index, name, &out);
        if (done != (queued && !refused_name))
            Fault("SetOutputFile on job " + std::to_string(job->id) + " gave " +
                  (done ? "true" : "false") + ": " + engine_->LastErrMsg());
        if (done) {
            std::lock_guard guard(model_.lock_);
            job->has_output = true;
        }
    }

    // A job that had its thread has ended by the time the call that removes it returns: on
    // its own, or through the removal.
    void Remove(int index) {
        const bool started = engine_->Task(index).ThreadID != 0;
        int emptied = -1;
        {
            std::lock_guard guard(model_.lock_);
            emptied = model_.Leave(*model_.listed_[index]);
        }
        engine_->RemoveTask(index);
        std::lock_guard guard(model_.lock_);
        model_.CheckEnded({emptied});
        JobModel& job = *model_.listed_[index];
        if (started && job.ends != 1)
            model_.faults_.push_back("job " + std::to_string(job.id) + " removed without its end");
        job.job = nullptr;
        model_.listed_.erase(model_.listed_.begin() + index);
    }

    void Clear() {
        std::vector<bool> started;
        for (int32_t i = 0; i < engine_->TaskCount(); ++i)
            started.push_back(engine_->Task(i).ThreadID != 0);
        std::vector<int> emptied;
        {
            std::lock_guard guard(model_.lock_);
            for (JobModel* job : model_.listed_)
                emptied.push_back(model_.Leave(*job));
        }
        engine_->ClearTasks();
        std::lock_guard guard(model_.lock_);
        model_.CheckEnded(emptied);
        for (size_t i = 0; i < model_.listed_.size(); ++i) {
            JobModel& job = *model_.listed_[i];
            if (started[i] && job.ends != 1)
                model_.faults_.push_back("job " + std::to_string(job.id) +
                                         " cleared without its end");
            job.job = nullptr;
        }
        model_.listed_.clear();
    }

    void Start(int limit) {
        {
            std::lock_guard guard(model_.lock_);
            BatchModel batch;
            for (JobModel* job : model_.listed_) {
                if (job->batch >= 0)
                    continue;
                job->batch = static_cast<int>(model_.batches_.size());
                batch.outstanding.insert(job->id);
            }
            if (!batch.outstanding.empty())
                model_.batches_.push_back(std::move(batch));
        }
        engine_->StartConvert(limit);
    }

    void StopAll() {
        MarkStopped();
        engine_->Stop();
        // A job still without a thread now was ended by the Stop, or is ending without a run.
        std::lock_guard guard(model_.lock_);
        for (size_t i = 0; i < model_.listed_.size(); ++i) {
            JobModel& job = *model_.listed_[i];
            if (job.stopped && engine_->Task(static_cast<int32_t>(i)).ThreadID == 0)
                job.unstarted = true;
        }
    }
    // Before a Stop, or the destructor's: the jobs of open batches may end unfinished.
    void MarkStopped() {
        std::lock_guard guard(model_.lock_);
        for (JobModel* job : model_.listed_) {
            if (job->batch >= 0 && !model_.batches_[job->batch].ended)
                job->stopped = true;
        }
    }

    // Handlers: on whichever thread raises the event, with the event lock held.
    void OnEnd(int32_t index, bool finished, bool exception, const std::string& message) {
        if (index < 0) {
            std::lock_guard guard(model_.lock_);
            model_.BatchEnd();
        } else if (index >= engine_->TaskCount()) {
            Fault("an end for index " + std::to_string(index) + " past the list");
            return;
        } else {
            const TFFmpeg* job = &engine_->Task(index);
            std::lock_guard guard(model_.lock_);
            model_.JobEnd(model_.Listed(job), finished, exception, message);
        }
        const unsigned pick = HandlerPick();
        if (pick >= (index < 0 ? 40u : 20u) || closing_ || !gate_.TryLock())
            return;
        switch (pick % 6) {
        case 0:
            if (index >= 0)
                Remove(index);
            else
                Clear();
            break;
        case 1:
            Add(false);
            break;
        case 2:
            Start(1 + static_cast<int>(pick % 2));
            break;
        case 3:
            StopAll();
            break;
        case 4:
            if (ListedCount() > 0)
                Remove(static_cast<int>(HandlerPick() % ListedCount()));
            break;
        default:
            engine_->Resume();
            break;
        }
        gate_.Unlock();
    }

    void OnProgress(int32_t index) {
        if (index < 0 || index >= engine_->TaskCount()) {
            Fault("progress for index " + std::to_string(index));
            return;
        }
        const unsigned pick = HandlerPick();
        if (pick >= 6 || closing_)
            return;
        if (pick == 0) {
            engine_->Pause();
            return;
        }
        if (!gate_.TryLock())
            return;
        if (pick < 3)
            Remove(index); // its own job, from its own thread
        else
            StopAll();
        gate_.Unlock();
    }

    // The list as the model has it: same jobs, same order, indexes equal to positions.
    void CheckList() {
        std::lock_guard guard(model_.lock_);
        if (engine_->TaskCount() != static_cast<int32_t>(model_.listed_.size())) {
            model_.faults_.push_back("the list has " + std::to_string(engine_->TaskCount()) +
                                     " jobs, the model " + std::to_string(model_.listed_.size()));
            return;
        }
        for (size_t i = 0; i < model_.listed_.size(); ++i) {
            const TFFmpeg& job = engine_->Task(static_cast<int32_t>(i));
            if (&job != model_.listed_[i]->job || job.Index != static_cast<int32_t>(i))
                model_.faults_.push_back("job at " + std::to_string(i) + " is not the model's");
        }
    }

    // A listed job: one that `wanted` picks, unless `any_one_in` draws any (or none is wanted).
    int Pick(int count, unsigned any_one_in, bool (*wanted)(const JobModel&)) {
        const int any = static_cast<int>(rng_() % count);
        if (rng_() % any_one_in == 0)
            return any;
        std::lock_guard guard(model_.lock_);
        for (int i = 0; i < count; ++i) {
            const int index = (any + i) % count;
            if (wanted(*model_.listed_[index]))
                return index;
        }
        return any;
    }

    int ListedCount() {
        std::lock_guard guard(model_.lock_);
        return static_cast<int>(model_.listed_.size());
    }
    unsigned HandlerPick() {
        std::lock_guard guard(model_.lock_);
        return handler_rng_() % 100;
    }
    void Fault(const std::string& what) {
        std::lock_guard guard(model_.lock_);
        model_.faults_.push_back(what);
    }

    const unsigned seed_;
    std::mt19937 rng_;         // the test's thread
    std::mt19937 handler_rng_; // guarded by model_.lock_
    const std::string folder_;
    int next_name_ = 0; // with the gate
    Gate gate_;
    Model model_;
    std::atomic<bool> closing_{false};
    std::unique_ptr<TFFmpegEngine> owner_;
    TFFmpegEngine* const engine_; // the handlers' way to it, good while its destructor runs
};

TEST(EngineModelTest, RandomCallSequencesKeepTheQueueWhole) {
    const int only = EnvNumber("CLIPWRIGHT_MODEL_SEED", 0);
    const int first = only > 0 ? only : 1;
    const int last = only > 0 ? only : EnvNumber("CLIPWRIGHT_MODEL_SEQUENCES", 8);
    for (int seed = first; seed <= last; ++seed) {
        const std::string replay = "CLIPWRIGHT_MODEL_SEED=" + std::to_string(seed);
        SCOPED_TRACE(replay);
        const Watchdog watchdog("EngineModelTest " + replay, 120);
        Sequence(static_cast<unsigned>(seed)).Run();
        if (::testing::Test::HasFailure()) {
            std::fprintf(stderr, "replay the first failing sequence with %s\n", replay.c_str());
            return;
        }
    }
}

} // namespace
} // namespace clipwright
