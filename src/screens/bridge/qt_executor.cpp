#include "screens/bridge/qt_executor.hpp"

#include "platform/exec/fatal.hpp"
#include "platform/exec/system_executor.hpp"

#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <future>

namespace screens {

QtMainQueue::QtMainQueue(std::string label)
    : label_(std::move(label)), owner_(std::this_thread::get_id()),
      receiver_(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::async(platform::Task task) {
    // Queued calls to one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(
        receiver_.get(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

platform::TaskHandle QtMainQueue::asyncAfter(platform::Duration delay, platform::Task task) {
    auto handle = platform::TaskHandle::create();
    auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    if (milliseconds < 0) {
        milliseconds = 0;
    }
    // A timer must start on the thread it belongs to: the owner's.
    async([receiver = receiver_.get(), handle, milliseconds, task = std::move(task)]() mutable {
        QTimer::singleShot(static_cast<int>(std::min<long long>(milliseconds, INT32_MAX)),
                           Qt::PreciseTimer, receiver, [handle, task = std::move(task)] {
                               if (!handle.cancelled()) {
                                   task();
                               }
                           });
    });
    return handle;
}

void QtMainQueue::sync(platform::Task task) {
    if (isCurrent()) {
        platform::detail::fatal("sync onto queue '" + label_ +
                                "' from that same queue would deadlock");
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([&task, done] {
        task();
        done->set_value();
    });
    finished.wait();
}

bool QtMainQueue::isCurrent() const {
    return std::this_thread::get_id() == owner_;
}

std::unique_ptr<platform::Queue> QtExecutor::makeSerialQueue(std::string label) {
    return std::make_unique<platform::ThreadQueue>(std::move(label));
}

} // namespace screens
