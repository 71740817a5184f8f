#include "platform/values/uuid.hpp"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

TEST(MakeUuid, IsARandomUuidInUpperCaseCanonicalForm) {
    for (int i = 0; i < 100; ++i) {
        auto uuid = makeUuid();
        ASSERT_EQ(uuid.size(), 36u) << uuid;
        for (std::size_t at = 0; at < uuid.size(); ++at) {
            if (at == 8 || at == 13 || at == 18 || at == 23) {
                EXPECT_EQ(uuid[at], '-') << uuid;
            } else {
                EXPECT_TRUE(isUpperHex(uuid[at])) << uuid;
            }
        }
        EXPECT_EQ(uuid[14], '4') << "version: " << uuid;
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << "variant: " << uuid;
    }
}

TEST(MakeUuid, DoesNotRepeat) {
    std::set<std::string> seen;
    for (int i = 0; i < 10000; ++i) {
        EXPECT_TRUE(seen.insert(makeUuid()).second);
    }
}

} // namespace
} // namespace platform
