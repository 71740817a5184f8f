#pragma once

#include "platform/exec/clock.hpp"
#include "platform/exec/queue.hpp"

#include <QObject>

#include <memory>
#include <string>
#include <thread>

namespace screens {

// The main queue of the program with screens: Qt's event loop on the thread that creates it.
// Tasks posted from any thread run there in the order posted, between Qt's own events, so that
// the core and the screens share one thread and one order. Delayed tasks ride on precise Qt
// timers. Tasks still queued when it is destroyed are dropped.
class QtMainQueue final : public platform::Queue {
public:
    explicit QtMainQueue(std::string label = "main");
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void async(platform::Task task) override;
    platform::TaskHandle asyncAfter(platform::Duration delay, platform::Task task) override;
    void sync(platform::Task task) override;
    bool isCurrent() const override;
    std::string_view label() const override { return label_; }

private:
    std::string label_;
    std::thread::id owner_;
    // Lives on the owner's thread; posted tasks are queued calls on it, so they die with it.
    std::unique_ptr<QObject> receiver_;
};

// The executor of the program with screens: main is Qt's event loop, serial queues have threads
// of their own as headless, the clock is the system clock.
class QtExecutor final : public platform::Executor {
public:
    QtExecutor() = default;
    platform::Queue& main() override { return main_; }
    std::unique_ptr<platform::Queue> makeSerialQueue(std::string label) override;
    const platform::Clock& clock() const override { return clock_; }

private:
    platform::SystemClock clock_;
    QtMainQueue main_;
};

} // namespace screens
