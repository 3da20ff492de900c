// Times and sizes as users write them for the remuxion program, to the tick
// and the byte; the program's refusals of malformed ones are in CliTest.
#include <gtest/gtest.h>

#include "TimeText.h"

namespace {

constexpr int64_t kSecond = 10'000'000;

TEST(CliTimeText, TimesAndSizesToTheTickAndTheByte) {
    const std::pair<const char*, int64_t> times[] = {
        {"0", 0},
        {"12.5", 12 * kSecond + kSecond / 2},
        {".25", kSecond / 4},
        {"0.0000001", 1},  // no rounding through doubles
        {"1:30", 90 * kSecond},
        {"01:02:03.250", (3600 + 120 + 3) * kSecond + kSecond / 4},
        {"100:00", 6000 * kSecond},  // minutes alone may exceed 59
        {"25:00:00", 90000 * kSecond},
    };
    for (const auto& [text, ticks] : times) EXPECT_EQ(kxcli::ParseTime(text), ticks) << text;
    const std::pair<const char*, int64_t> sizes[] = {
        {"1000000", 1000000}, {"700k", 700 * 1024}, {"1.5M", 1536 * 1024}, {"2G", int64_t{2} << 30}};
    for (const auto& [text, bytes] : sizes) EXPECT_EQ(kxcli::ParseByteCount(text), bytes) << text;
    EXPECT_EQ(kxcli::ParseTimeList("10,20,1:00", "--at"),
              (std::vector<int64_t>{10 * kSecond, 20 * kSecond, 60 * kSecond}));
    const auto clip = kxcli::ParseStartLength("1:30+45.5", "--clip");
    EXPECT_EQ(clip.start, 90 * kSecond);
    EXPECT_EQ(clip.length, 45 * kSecond + kSecond / 2);
    EXPECT_EQ(kxcli::FormatClock(3600 * kSecond + 61 * kSecond + kSecond / 2), "1:01:01.500");
}

}  // namespace
