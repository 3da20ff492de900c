// Times and sizes as users write them for the remuxion program.
#include <gtest/gtest.h>

#include "Console.h"
#include "TimeText.h"

namespace {

using kxcli::ParseByteCount;
using kxcli::ParseTime;

constexpr int64_t kSecond = 10'000'000;

TEST(CliTimeText, SecondsAndClockFormsGiveExactTicks) {
    EXPECT_EQ(ParseTime("0"), 0);
    EXPECT_EQ(ParseTime("12"), 12 * kSecond);
    EXPECT_EQ(ParseTime("12.5"), 12 * kSecond + kSecond / 2);
    EXPECT_EQ(ParseTime(".25"), kSecond / 4);
    EXPECT_EQ(ParseTime("0.0000001"), 1);  // one tick, no rounding through doubles
    EXPECT_EQ(ParseTime("1:30"), 90 * kSecond);
    EXPECT_EQ(ParseTime("01:02:03.250"), (3600 + 120 + 3) * kSecond + kSecond / 4);
    EXPECT_EQ(ParseTime("100:00"), 6000 * kSecond);  // minutes alone may exceed 59
    EXPECT_EQ(ParseTime("25:00:00"), 90000 * kSecond);
}

TEST(CliTimeText, MalformedTimesAreRefused) {
    for (const char* bad : {"", "-1", "+3", "1e3", "abc", "1.2.3", "1:60", "1:2:3:4", "1:60:00", ":30", "1:", "1:30.",
                            "0.12345678", " 5", "5 ", "99999999999"})
        EXPECT_FALSE(ParseTime(bad).has_value()) << "'" << bad << "'";
}

TEST(CliTimeText, ListsAndClipsFailWithTheOptionNamed) {
    EXPECT_EQ(kxcli::ParseTimeList("10,20,1:00", "--at"), (std::vector<int64_t>{10 * kSecond, 20 * kSecond, 60 * kSecond}));
    try {
        kxcli::ParseTimeList("10,,20", "--at");
        FAIL() << "an empty field passed";
    } catch (const kxcli::CliError& error) {
        EXPECT_EQ(error.ExitCode(), kxcli::kExitUsage);
        EXPECT_NE(std::string(error.what()).find("bad time '' for --at"), std::string::npos) << error.what();
    }
    auto clip = kxcli::ParseStartLength("1:30+45.5", "--clip");
    EXPECT_EQ(clip.start, 90 * kSecond);
    EXPECT_EQ(clip.length, 45 * kSecond + kSecond / 2);
    EXPECT_THROW(kxcli::ParseStartLength("1:30", "--clip"), kxcli::CliError);
    EXPECT_THROW(kxcli::ParseStartLength("1+2+3", "--clip"), kxcli::CliError);
    EXPECT_THROW(kxcli::ParseStartLength("5+0", "--clip"), kxcli::CliError);
}

TEST(CliTimeText, ByteCounts) {
    EXPECT_EQ(ParseByteCount("1000000"), 1000000);
    EXPECT_EQ(ParseByteCount("700k"), 700 * 1024);
    EXPECT_EQ(ParseByteCount("1.5M"), 1536 * 1024);
    EXPECT_EQ(ParseByteCount("2G"), int64_t{2} * 1024 * 1024 * 1024);
    for (const char* bad : {"", "0", "-5", "5.5", "k", "1.2.3M", "12q", "M5"})
        EXPECT_FALSE(ParseByteCount(bad).has_value()) << "'" << bad << "'";
}

TEST(CliTimeText, Clock) {
    EXPECT_EQ(kxcli::FormatClock(0), "00:00.000");
    EXPECT_EQ(kxcli::FormatClock(61 * kSecond + 5'000'000), "01:01.500");
    EXPECT_EQ(kxcli::FormatClock(3600 * kSecond + 2 * kSecond), "1:00:02.000");
}

}  // namespace
