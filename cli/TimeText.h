// Times and sizes as the user writes them, and as the program shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kxcli {

constexpr int64_t kTicksPerSecond = 10'000'000;

// "12", "12.5", "1:30", "01:02:03.250" -> 100-ns ticks; nullopt when the
// text is not a time (negative, empty, stray characters, minutes or seconds
// of 60 or more after a colon, more than seven decimals).
std::optional<int64_t> ParseTime(const std::string& text);

// Like ParseTime, but fails with a message naming the option.
int64_t ParseTimeOrFail(const std::string& text, const std::string& option);

// "T1,T2,..." as times.
std::vector<int64_t> ParseTimeList(const std::string& text, const std::string& option);

// "START+LENGTH".
struct StartLength {
    int64_t start;
    int64_t length;
};
StartLength ParseStartLength(const std::string& text, const std::string& option);

// "1000000", "700k", "1.5M", "2G" (k, M, G are powers of 1024) -> bytes.
std::optional<int64_t> ParseByteCount(const std::string& text);

// Ticks -> "HH:MM:SS.mmm" (hours omitted below one hour: "MM:SS.mmm").
std::string FormatClock(int64_t ticks);
// Seconds -> "12.345".
std::string FormatSeconds(double seconds, int decimals = 3);
// Bytes -> "1.5 MiB".
std::string FormatBytes(double bytes);
// Bits per second -> "1.20 Mb/s".
std::string FormatBitRate(double bitsPerSecond);

}  // namespace kxcli
