#include "platform/exec/system_executor.hpp"

#include "platform/exec/asio_loop.hpp"
#include "platform/exec/fatal.hpp"

#include <pthread.h>

#include <future>

namespace platform {

namespace {

// Runs `task` on `queue` and waits for it. If the queue drops the task instead (it is being
// destroyed), the promise is destroyed unfulfilled and the wait ends all the same.
void postAndWait(Queue& queue, Task& task) {
    if (queue.isCurrent()) {
        detail::fatal("sync onto queue '" + std::string(queue.label()) +
                      "' from that same queue would deadlock");
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    queue.async([&task, done] {
        task();
        done->set_value();
    });
    finished.wait();
}

void nameThread(const std::string& label) {
    // Linux limits thread names to 15 characters; the name only helps debuggers and top.
    auto name = label.substr(0, 15);
    pthread_setname_np(pthread_self(), name.c_str());
}

} // namespace

ThreadQueue::ThreadQueue(std::string label)
    : label_(std::move(label)), loop_(std::make_shared<detail::AsioLoop>()) {
    // The thread holds the loop too, so that it can outlive a queue destroyed by its own task.
    thread_ = std::thread([loop = loop_, name = label_] {
        nameThread(name);
        detail::CurrentLoopGuard current(loop.get());
        loop->context().run();
    });
}

ThreadQueue::~ThreadQueue() {
    loop_->context().stop();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void ThreadQueue::async(Task task) {
    loop_->post(std::move(task));
}

TaskHandle ThreadQueue::asyncAfter(Duration delay, Task task) {
    return loop_->postAfter(delay, std::move(task));
}

void ThreadQueue::sync(Task task) {
    postAndWait(*this, task);
}

bool ThreadQueue::isCurrent() const {
    return detail::currentLoop() == loop_.get();
}

MainRunLoop::MainRunLoop(std::string label)
    : label_(std::move(label)), owner_(std::this_thread::get_id()),
      loop_(std::make_shared<detail::AsioLoop>()) {}

MainRunLoop::~MainRunLoop() {
    if (running_) {
        detail::fatal("main run loop '" + label_ + "' destroyed while it runs");
    }
}

void MainRunLoop::async(Task task) {
    loop_->post(std::move(task));
}

TaskHandle MainRunLoop::asyncAfter(Duration delay, Task task) {
    return loop_->postAfter(delay, std::move(task));
}

void MainRunLoop::sync(Task task) {
    postAndWait(*this, task);
}

bool MainRunLoop::isCurrent() const {
    return std::this_thread::get_id() == owner_;
}

void MainRunLoop::run() {
    if (!isCurrent()) {
        detail::fatal("run() of '" + label_ + "' called on a thread other than its owner");
    }
    if (running_) {
        detail::fatal("run() of '" + label_ + "' called from one of its own tasks");
    }
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(running_);
    auto& context = loop_->context();
    while (!stopRequested_.load()) {
        context.run_one();
    }
    while (context.poll() > 0) {
    }
    stopRequested_ = false;
}

void MainRunLoop::stop() {
    stopRequested_ = true;
    // Wakes a run() that waits for work.
    loop_->post([] {});
}

std::unique_ptr<Queue> SystemExecutor::makeSerialQueue(std::string label) {
    return std::make_unique<ThreadQueue>(std::move(label));
}

} // namespace platform
