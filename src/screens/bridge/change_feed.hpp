#pragma once

#include "platform/observe/observable.hpp"

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace screens {

// The one bridge from the logic's observables to Qt: it follows any number of observables and,
// after the main-queue turn in which one or more of them changed, calls `changed` once. A view
// thus never draws the half-built state between two writes of one change (a run replaced, a
// snapshot applied), and a burst of writes costs one redraw. The view-model's properties read
// the logic directly and use `changed` as their NOTIFY.
class ChangeFeed {
public:
    // `context` must outlive the feed; a pending call dies with it.
    ChangeFeed(QObject* context, std::function<void()> changed)
        : context_(context), changed_(std::move(changed)) {}
    ChangeFeed(const ChangeFeed&) = delete;
    ChangeFeed& operator=(const ChangeFeed&) = delete;

    template <class T> void follow(platform::Observable<T>& observable) {
        subscriptions_.push_back(observable.observe([this](const T&) { poke(); }));
    }
    // Forgets everything followed so far (before following a new set of rows).
    void clear() { subscriptions_.clear(); }
    // Calls `changed` after this turn, as a change of a followed observable does.
    void poke() {
        if (*pending_) {
            return;
        }
        *pending_ = true;
        QMetaObject::invokeMethod(
            context_,
            [pending = std::weak_ptr(pending_), changed = &changed_] {
                if (auto flag = pending.lock()) {
                    *flag = false;
                    (*changed)();
                }
            },
            Qt::QueuedConnection);
    }

private:
    QObject* context_;
    std::function<void()> changed_;
    std::shared_ptr<bool> pending_ = std::make_shared<bool>(false);
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace screens
