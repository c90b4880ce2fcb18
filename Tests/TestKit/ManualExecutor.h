#pragma once

// The deterministic test kit: manual executors that all run on the test's thread, driven by a
// ManualScheduler with a manual clock. Ready jobs run in post order (or, given a seed, the next
// executor to run is drawn from the seed); timers fire in deadline order as the test advances
// time. Posting from other threads is allowed; running happens only when the test asks.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Core/RingQueue.h"
#include "Platform/Clock.h"
#include "Platform/Executor.h"
#include "Runtime/Executors/WorkPool.h"

namespace tindlewave::testkit {

// A clock that moves only when told. Its date starts at 2024-01-01T00:00:00Z and its uptime at
// 1000 s; both advance with `now`.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(Instant start = Instant{std::chrono::seconds(1000)})
        : start_(start), now_(start.time_since_epoch().count()) {}

    Instant now() const override { return Instant{Duration{now_.load()}}; }
    std::chrono::system_clock::time_point date() const override {
        using namespace std::chrono;
        return system_clock::time_point{seconds{1704067200}} +
               duration_cast<system_clock::duration>(now() - start_);
    }
    double uptime() const override { return double(now_.load()) / 1e9; }

    void set(Instant instant) { now_ = instant.time_since_epoch().count(); }
    void advance(Duration by) { now_ += by.count(); }

  private:
    Instant start_;
    std::atomic<std::int64_t> now_;
};

class ManualExecutor;

class ManualScheduler {
  public:
    // Without a seed, ready jobs of all executors run in the order they were posted. With one,
    // each step runs the oldest job of an executor drawn from the seed among those with work.
    explicit ManualScheduler(std::optional<std::uint64_t> seed = std::nullopt)
        : timers_(std::make_shared<Timers>()) {
        if (seed) random_.emplace(*seed);
    }

    ManualClock& clock() { return clock_; }
    Instant now() const { return clock_.now(); }

    // Runs one ready job; false when there is none.
    inline bool runOne();
    // Runs ready jobs (including those they post) until none is left; returns how many ran.
    std::size_t runReady(std::size_t limit = 1'000'000) {
        std::size_t ran = 0;
        while (runOne())
            if (++ran >= limit) throw std::runtime_error("jobs keep posting jobs");
        return ran;
    }
    // Moves the clock forward, firing due timers in deadline order (each followed by the jobs it
    // made ready) at their own instants, and ends at `now() + by` with every ready job run.
    void advance(Duration by) { advanceTo(now() + by); }
    inline void advanceTo(Instant target);

    // Jobs ready to run and timers pending, over all executors.
    inline std::size_t readyCount();
    std::size_t timerCount() {
        std::lock_guard lock(timers_->mutex);
        return timers_->entries.size();
    }
    std::optional<Instant> nextDeadline() {
        std::lock_guard lock(timers_->mutex);
        if (timers_->entries.empty()) return std::nullopt;
        return timers_->entries.begin()->first.first;
    }

  private:
    friend class ManualExecutor;

    struct Timers {
        using Entries =
            std::map<std::pair<Instant, std::uint64_t>, std::pair<ManualExecutor*, Executor::Job>>;
        std::mutex mutex;
        std::uint64_t nextId = 1;
        Entries entries;
        // Nodes of fired and cancelled timers, taken again by the next ones: a timer re-armed
        // every frame allocates nothing here either, as with the program's executors.
        std::vector<Entries::node_type> spare = [] {
            std::vector<Entries::node_type> kept;
            kept.reserve(16);
            return kept;
        }();

        // Under the lock: takes the entry out and its job with it, and keeps the node.
        Executor::Job removeLocked(Entries::iterator it) {
            auto node = entries.extract(it);
            Executor::Job job = std::move(node.mapped().second);
            node.mapped().second = nullptr;
            if (spare.size() < 16) spare.push_back(std::move(node));
            return job;
        }
        void cancel(std::uint64_t id) {
            Executor::Job dropped;  // destroyed after the lock is released
            std::lock_guard lock(mutex);
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->first.second == id) {
                    dropped = removeLocked(it);
                    return;
                }
        }
    };

    std::mutex mutex_;
    std::uint64_t nextPost_ = 0;
    std::vector<ManualExecutor*> executors_;
    std::optional<std::mt19937_64> random_;
    ManualClock clock_;
    std::shared_ptr<Timers> timers_;
};

class ManualExecutor final : public Executor {
  public:
    ManualExecutor(ManualScheduler& scheduler, std::string name)
        : scheduler_(scheduler), name_(std::move(name)) {
        std::lock_guard lock(scheduler_.mutex_);
        scheduler_.executors_.push_back(this);
    }
    ~ManualExecutor() override {
        closeMailbox();
        {
            std::lock_guard lock(scheduler_.mutex_);
            std::erase(scheduler_.executors_, this);
        }
        std::vector<Job> dropped;  // destroyed after the lock is released
        std::lock_guard lock(scheduler_.timers_->mutex);
        auto& entries = scheduler_.timers_->entries;
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->second.first == this) {
                dropped.push_back(std::move(it->second.second));
                it = entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    ManualExecutor(const ManualExecutor&) = delete;
    ManualExecutor& operator=(const ManualExecutor&) = delete;

    void post(Job job) override {
        std::lock_guard lock(scheduler_.mutex_);
        jobs_.push_back({scheduler_.nextPost_++, std::move(job)});
    }
    TimerHandle schedule(Instant deadline, Job job) override {
        auto timers = scheduler_.timers_;
        std::uint64_t id = 0;
        {
            std::lock_guard lock(timers->mutex);
            id = timers->nextId++;
            if (!timers->spare.empty()) {
                auto node = std::move(timers->spare.back());
                timers->spare.pop_back();
                node.key() = std::pair{deadline, id};
                node.mapped() = std::pair{this, std::move(job)};
                timers->entries.insert(std::move(node));
            } else {
                timers->entries.emplace(std::pair{deadline, id}, std::pair{this, std::move(job)});
            }
        }
        std::weak_ptr<ManualScheduler::Timers> weak = timers;
        return TimerHandle([weak, id] {
            if (auto alive = weak.lock()) alive->cancel(id);
        });
    }
    const Clock& clock() const override { return scheduler_.clock_; }

    const std::string& name() const { return name_; }
    std::size_t readyCount() {
        std::lock_guard lock(scheduler_.mutex_);
        return jobs_.size();
    }

    // Runs `job` as this executor's work (isCurrent() is true inside).
    void run(Job& job) {
        CurrentScope scope(this);
        job();
    }

  private:
    friend class ManualScheduler;
    ManualScheduler& scheduler_;
    std::string name_;
    RingQueue<std::pair<std::uint64_t, Job>> jobs_;
};

inline bool ManualScheduler::runOne() {
    ManualExecutor* chosen = nullptr;
    Executor::Job job;
    {
        std::lock_guard lock(mutex_);
        // Chosen without a list of the ready ones: running a job allocates nothing of its own.
        std::size_t ready = 0;
        for (auto* executor : executors_) {
            if (executor->jobs_.empty()) continue;
            ++ready;
            if (!chosen || executor->jobs_.front().first < chosen->jobs_.front().first)
                chosen = executor;
        }
        if (ready == 0) return false;
        if (random_) {
            auto pick = std::uniform_int_distribution<std::size_t>(0, ready - 1)(*random_);
            for (auto* executor : executors_) {
                if (executor->jobs_.empty()) continue;
                if (pick-- == 0) {
                    chosen = executor;
                    break;
                }
            }
        }
        job = std::move(chosen->jobs_.front().second);
        chosen->jobs_.pop_front();
    }
    chosen->run(job);
    return true;
}

inline void ManualScheduler::advanceTo(Instant target) {
    runReady();
    while (true) {
        ManualExecutor* executor = nullptr;
        Executor::Job job;
        {
            std::lock_guard lock(timers_->mutex);
            if (timers_->entries.empty() || timers_->entries.begin()->first.first > target) break;
            auto first = timers_->entries.begin();
            if (first->first.first > clock_.now()) clock_.set(first->first.first);
            executor = first->second.first;
            job = timers_->removeLocked(first);
        }
        executor->run(job);
        runReady();
    }
    if (target > clock_.now()) clock_.set(target);
    runReady();
}

inline std::size_t ManualScheduler::readyCount() {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (auto* executor : executors_) count += executor->jobs_.size();
    return count;
}

// A work pool whose work runs only when the test says, on the test's thread.
class ManualWorkPool final : public WorkPool {
  public:
    void submit(Work work) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    std::size_t pending() {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }
    // Runs the oldest queued work; false when there is none.
    bool runNext() {
        Work work;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return false;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
        return true;
    }

  private:
    std::mutex mutex_;
    std::deque<Work> queue_;
};

}  // namespace tindlewave::testkit
