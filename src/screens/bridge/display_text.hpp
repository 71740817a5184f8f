#pragma once

#include <QString>

#include <string_view>

namespace screens {

// Text from the phone as a screen may show it: invalid UTF-8 becomes the replacement character,
// control characters (line breaks included) become spaces, and anything beyond `limit`
// characters is cut with an ellipsis, so that no name can break a one-line row.
QString displayText(std::string_view text, int limit = 200);

} // namespace screens
