#include "widget/host/countdown.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using glanceside::Date;
using glanceside::DateRange;
using namespace glanceside::host;

TEST(Countdown, TimerTextsShowHoursFromOneHourAndNeverGoBelowZero) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00"},    {59.9, "00:59"},   {60, "01:00"},
        {3599, "59:59"}, {3600, "1:00:00"}, {36061, "10:01:01"},
        {-5, "00:00"},   {NAN, "00:00"},    {1e300, "2500000000000:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(timerText(c.seconds), c.text) << c.seconds;
    }
}

TEST(Countdown, CountdownsRunToTheUpperBoundAndClockCountsUpFromTheLowerOne) {
    const DateRange rest{Date{1000}, Date{1090}};
    struct Case {
        double now;
        const char* countdown;
        const char* textTimer;
    };
    // A second that has begun still shows; the range's own length does not matter.
    const Case cases[] = {
        {1000, "01:30", "01:30"},   {1000.5, "01:30", "01:30"},  {1001, "01:29", "01:29"},
        {1089.2, "00:01", "00:01"}, {1090, "00:00", "00:00"},    {5000, "00:00", "00:00"},
        {0, "18:10", "18:10"},      {-3000, "1:08:10", "68:10"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(countdownText(rest, Date{c.now}), c.countdown) << c.now;
        EXPECT_EQ(textTimerText(rest, Date{c.now}), c.textTimer) << c.now;
    }
    EXPECT_EQ(countUpText(Date{1000}, Date{4725.9}), "1:02:05");
    EXPECT_EQ(countUpText(Date{1000}, Date{1059.99}), "00:59");
    EXPECT_EQ(countUpText(Date{1000}, Date{900}), "00:00");
}

} // namespace
