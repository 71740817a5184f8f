#include "platform/values/uuid.hpp"

#include <uuid/uuid.h>

namespace platform {

std::string makeUuid() {
    uuid_t bytes;
    uuid_generate_random(bytes);
    char text[37];
    uuid_unparse_upper(bytes, text);
    return std::string(text, 36);
}

} // namespace platform
