#pragma once

#include <string>

namespace platform {

// A random (version 4) UUID as 36 upper-case characters, e.g.
// 3F2504E0-4F89-41D3-9A0C-0305E82C3301.
std::string makeUuid();

} // namespace platform
