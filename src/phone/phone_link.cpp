#include "phone/phone_link.hpp"
#include "phone/fields.hpp"

#include <string_view>
#include <utility>

namespace phone {

namespace {

// Passes every frame through, except the watch's user-info transfers while the switch holds an
// error: those are answered here and go no further.
class RefusingTransport final : public platform::FrameTransport {
public:
    RefusingTransport(std::unique_ptr<platform::FrameTransport> inner,
                      std::shared_ptr<PhoneLink::FailureSwitch> failure, platform::Log& log)
        : inner_(std::move(inner)), failure_(std::move(failure)), log_(log) {}

    void start(Events events) override {
        auto frame = std::move(events.frame);
        events.frame = [this, frame = std::move(frame)](platform::Dictionary envelope) {
            // Built from the wire protocol's envelope table, which is the stable contract.
            auto error = failure_->get();
            const auto* kind = stringAt(envelope, "kind");
            const auto* id = stringAt(envelope, "id");
            if (error && kind != nullptr && *kind == "userInfo" && id != nullptr) {
                inner_->send(
                    platform::Dictionary{{"kind", "received"}, {"id", *id}, {"error", *error}});
                log_.line("phone-sim: refused the watch's transfer " + *id +
                          " (fail-transfers on)");
                return;
            }
            frame(std::move(envelope));
        };
        inner_->start(std::move(events));
    }
    void send(const platform::Dictionary& envelope) override { inner_->send(envelope); }
    void disconnect(const std::string& reason) override { inner_->disconnect(reason); }
    void stop() override { inner_->stop(); }

private:
    std::unique_ptr<platform::FrameTransport> inner_;
    std::shared_ptr<PhoneLink::FailureSwitch> failure_;
    platform::Log& log_;
};

} // namespace

void PhoneLink::FailureSwitch::set(std::optional<std::string> error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

std::optional<std::string> PhoneLink::FailureSwitch::get() const {
    std::lock_guard lock(mutex_);
    return error_;
}

PhoneLink::PhoneLink(std::unique_ptr<platform::FrameTransport> transport,
                     platform::SessionEngineServices services)
    : failure_(std::make_shared<FailureSwitch>()),
      engine_(std::make_unique<platform::SessionEngine>(
          platform::LinkRole::phone,
          std::make_unique<RefusingTransport>(std::move(transport), failure_, services.log),
          services)) {}

PhoneLink::~PhoneLink() = default;

void PhoneLink::setReachable(bool reachable) {
    engine_->setPhoneReachable(reachable);
}

bool PhoneLink::setTransferFailure(std::optional<std::string> error) {
    failure_->set(std::move(error));
    return true;
}

} // namespace phone
