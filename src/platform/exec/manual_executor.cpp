#include "platform/exec/manual_executor.hpp"

#include "platform/exec/fatal.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace detail {

class ManualScheduler {
public:
    explicit ManualScheduler(TimePoint start) : clock_(start) {}

    const Clock& clock() const { return clock_; }

    void setMain(const Queue* main) { main_ = main; }

    TaskHandle schedule(const Queue* queue, Duration delay, Task task) {
        checkThread("post a task");
        auto handle = TaskHandle::create();
        if (!closed_) {
            auto due = clock_.now() + std::max(delay, Duration::zero());
            tasks_.emplace(Key{due, nextSeq_++}, Entry{queue, std::move(task), handle});
        }
        return handle;
    }

    bool isCurrent(const Queue* queue) const {
        return running_.empty() ? queue == main_ : running_.back() == queue;
    }

    void sync(const Queue* queue, const Task& task) {
        checkThread("sync");
        bool waiting = std::find(running_.begin(), running_.end(), queue) != running_.end();
        // Outside the driver the stack of syncs starts on the main thread, which waits too.
        bool mainWaits = !driving_ && queue == main_;
        if (isCurrent(queue) || waiting || mainWaits) {
            fatal("sync onto queue '" + std::string(queue->label()) +
                  "' from that queue, or from a sync it waits in, would deadlock");
        }
        auto before = nextSeq_;
        for (;;) {
            auto it = std::find_if(tasks_.begin(), tasks_.end(), [&](const auto& item) {
                return item.first.due <= clock_.now() && item.first.seq < before &&
                       item.second.queue == queue;
            });
            if (it == tasks_.end()) {
                break;
            }
            run(it);
        }
        Running current(running_, queue);
        task();
    }

    std::size_t runUntilIdle() {
        Driving driving(*this, "runUntilIdle");
        return drainReady();
    }

    bool runNext() {
        Driving driving(*this, "runNext");
        while (!tasks_.empty()) {
            clock_.set(std::max(clock_.now(), tasks_.begin()->first.due));
            if (run(tasks_.begin())) {
                return true;
            }
        }
        return false;
    }

    std::size_t advanceTo(TimePoint target) {
        Driving driving(*this, "advance time");
        if (target < clock_.now()) {
            fatal("advancing time backwards");
        }
        auto count = drainReady();
        while (!tasks_.empty() && tasks_.begin()->first.due <= target) {
            clock_.set(std::max(clock_.now(), tasks_.begin()->first.due));
            count += drainReady();
        }
        clock_.set(target);
        return count;
    }

    TimePoint now() const { return clock_.now(); }

    std::size_t pendingCount() const {
        return static_cast<std::size_t>(std::count_if(
            tasks_.begin(), tasks_.end(), [](const auto& item) { return !cancelled(item); }));
    }

    std::optional<TimePoint> nextDueTime() const {
        auto it = std::find_if(tasks_.begin(), tasks_.end(),
                               [](const auto& item) { return !cancelled(item); });
        if (it == tasks_.end()) {
            return std::nullopt;
        }
        return it->first.due;
    }

    // Destroys the tasks only after taking them out, as their captures may post new ones.
    void drop(const Queue* queue) {
        std::vector<Task> dropped;
        for (auto it = tasks_.begin(); it != tasks_.end();) {
            if (queue == nullptr || it->second.queue == queue) {
                dropped.push_back(std::move(it->second.task));
                it = tasks_.erase(it);
            } else {
                ++it;
            }
        }
        // A queue destroyed by its own task must not look current to a queue born at its address.
        std::replace(running_.begin(), running_.end(), queue, static_cast<const Queue*>(nullptr));
        if (queue == main_) {
            main_ = nullptr;
        }
    }

    void close() {
        closed_ = true;
        drop(nullptr);
    }

private:
    struct Key {
        TimePoint due;
        std::uint64_t seq;
        auto operator<=>(const Key&) const = default;
    };
    struct Entry {
        const Queue* queue;
        Task task;
        TaskHandle handle;
    };
    using Tasks = std::map<Key, Entry>;

    // Pushes a queue onto the stack of running queues for the duration of its task.
    struct Running {
        std::vector<const Queue*>& stack;
        Running(std::vector<const Queue*>& s, const Queue* queue) : stack(s) {
            stack.push_back(queue);
        }
        ~Running() { stack.pop_back(); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    };

    struct Driving {
        ManualScheduler& scheduler;
        Driving(ManualScheduler& s, const char* what) : scheduler(s) {
            scheduler.checkThread(what);
            if (scheduler.driving_ || !scheduler.running_.empty()) {
                fatal(std::string(what) + " called from inside a task");
            }
            scheduler.driving_ = true;
        }
        ~Driving() { scheduler.driving_ = false; }
        Driving(const Driving&) = delete;
        Driving& operator=(const Driving&) = delete;
    };

    static bool cancelled(const Tasks::value_type& item) { return item.second.handle.cancelled(); }

    void checkThread(const char* what) const {
        if (std::this_thread::get_id() != owner_) {
            fatal(std::string("the manual executor is single-threaded: ") + what +
                  " from another thread");
        }
    }

    std::size_t drainReady() {
        std::size_t count = 0;
        while (!tasks_.empty() && tasks_.begin()->first.due <= clock_.now()) {
            count += run(tasks_.begin()) ? 1 : 0;
        }
        return count;
    }

    bool run(Tasks::iterator it) {
        auto entry = std::move(it->second);
        tasks_.erase(it);
        if (entry.handle.cancelled()) {
            return false;
        }
        Running current(running_, entry.queue);
        entry.task();
        return true;
    }

    ManualClock clock_;
    Tasks tasks_;
    std::uint64_t nextSeq_ = 0;
    // The queues whose tasks are on the call stack, innermost last; more than one during syncs.
    std::vector<const Queue*> running_;
    const Queue* main_ = nullptr;
    bool driving_ = false;
    bool closed_ = false;
    std::thread::id owner_ = std::this_thread::get_id();
};

} // namespace detail

namespace {

class ManualQueue final : public Queue {
public:
    ManualQueue(std::shared_ptr<detail::ManualScheduler> scheduler, std::string label)
        : scheduler_(std::move(scheduler)), label_(std::move(label)) {}
    ~ManualQueue() override { scheduler_->drop(this); }
    ManualQueue(const ManualQueue&) = delete;
    ManualQueue& operator=(const ManualQueue&) = delete;

    void async(Task task) override {
        scheduler_->schedule(this, Duration::zero(), std::move(task));
    }
    TaskHandle asyncAfter(Duration delay, Task task) override {
        return scheduler_->schedule(this, delay, std::move(task));
    }
    void sync(Task task) override { scheduler_->sync(this, task); }
    bool isCurrent() const override { return scheduler_->isCurrent(this); }
    std::string_view label() const override { return label_; }

private:
    std::shared_ptr<detail::ManualScheduler> scheduler_;
    std::string label_;
};

} // namespace

ManualExecutor::ManualExecutor(TimePoint start)
    : scheduler_(std::make_shared<detail::ManualScheduler>(start)),
      main_(std::make_unique<ManualQueue>(scheduler_, "main")) {
    scheduler_->setMain(main_.get());
}

ManualExecutor::~ManualExecutor() {
    scheduler_->close();
}

Queue& ManualExecutor::main() {
    return *main_;
}

std::unique_ptr<Queue> ManualExecutor::makeSerialQueue(std::string label) {
    return std::make_unique<ManualQueue>(scheduler_, std::move(label));
}

const Clock& ManualExecutor::clock() const {
    return scheduler_->clock();
}

TimePoint ManualExecutor::now() const {
    return scheduler_->now();
}

std::size_t ManualExecutor::runUntilIdle() {
    return scheduler_->runUntilIdle();
}

bool ManualExecutor::runNext() {
    return scheduler_->runNext();
}

std::size_t ManualExecutor::advanceBy(Duration duration) {
    if (duration < Duration::zero()) {
        detail::fatal("advancing time by a negative duration");
    }
    return scheduler_->advanceTo(scheduler_->now() + duration);
}

std::size_t ManualExecutor::advanceTo(TimePoint time) {
    return scheduler_->advanceTo(time);
}

std::size_t ManualExecutor::pendingCount() const {
    return scheduler_->pendingCount();
}

std::optional<TimePoint> ManualExecutor::nextDueTime() const {
    return scheduler_->nextDueTime();
}

} // namespace platform
