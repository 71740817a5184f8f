#pragma once

#include "phone/phone_app.hpp"
#include "platform/link/frame_transport.hpp"
#include "platform/link/session_engine.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace phone {

// The phone end of the link as phone-sim runs it: the platform's session engine in the phone
// role over a transport, plus the controls phone-sim needs. The session engine has no way to
// make its platform fail a transfer, so that fault is played below it: while it is on, each
// user-info transfer from the watch is answered on the wire with `received` and the error, and
// the engine (and the app) never see it, as if the phone's platform had refused it.
class PhoneLink final : public PhoneLinkControls {
public:
    PhoneLink(std::unique_ptr<platform::FrameTransport> transport,
              platform::SessionEngineServices services);
    ~PhoneLink() override;
    PhoneLink(const PhoneLink&) = delete;
    PhoneLink& operator=(const PhoneLink&) = delete;

    platform::SessionEngine& session() { return *engine_; }

    void setReachable(bool reachable) override;
    bool setTransferFailure(std::optional<std::string> error) override;

    // Shared with the transport wrapper, which reads it on the transport's thread.
    class FailureSwitch {
    public:
        void set(std::optional<std::string> error);
        std::optional<std::string> get() const;

    private:
        mutable std::mutex mutex_;
        std::optional<std::string> error_;
    };

private:
    std::shared_ptr<FailureSwitch> failure_;
    std::unique_ptr<platform::SessionEngine> engine_;
};

} // namespace phone
