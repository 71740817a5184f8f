#pragma once

#include "platform/link/session.hpp"

#include <functional>

namespace platform::phonelink {

// The ReplyHandler handed to the receiving application. Whichever copy is called first, on
// whichever thread, reaches `answer`; every later call goes to `repeated` instead. When the last
// copy goes away without any call, `unanswered` runs (nothing is sent: the sender's error
// handler runs once its connection drops).
ReplyHandler makeOnceReply(std::function<void(Dictionary)> answer, std::function<void()> repeated,
                           std::function<void()> unanswered);

} // namespace platform::phonelink
