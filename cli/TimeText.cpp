#include "TimeText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "Console.h"

namespace kxcli {

namespace {

constexpr int64_t kMaxSeconds = 1'000'000'000;  // far beyond any media, well inside int64 ticks

bool IsDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "123" or "123.4567" -> ticks; the integer part must stay below the limit.
std::optional<int64_t> ParseSecondsField(const std::string& text, int64_t limit) {
    size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if (!whole.empty() && !IsDigits(whole)) return std::nullopt;
    if (dot != std::string::npos && (!IsDigits(fraction) || fraction.size() > 7)) return std::nullopt;
    if (whole.size() > 10) return std::nullopt;
    int64_t seconds = whole.empty() ? 0 : std::stoll(whole);
    if (seconds >= limit) return std::nullopt;
    int64_t ticks = seconds * kTicksPerSecond;
    int64_t scale = kTicksPerSecond / 10;
    for (char c : fraction) {
        ticks += (c - '0') * scale;
        scale /= 10;
    }
    return ticks;
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (true) {
        size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return parts;
}

std::string TimeHelp() { return "use seconds (90, 12.5) or [HH:]MM:SS[.mmm] (01:02:03.250)"; }

}  // namespace

std::optional<int64_t> ParseTime(const std::string& text) {
    std::vector<std::string> fields = SplitText(text, ':');
    if (fields.size() > 3) return std::nullopt;
    if (fields.size() == 1) return ParseSecondsField(fields[0], kMaxSeconds);
    // The last field holds seconds (0-59.999...), the others whole minutes and hours.
    auto seconds = ParseSecondsField(fields.back(), 60);
    if (!seconds) return std::nullopt;
    int64_t total = *seconds;
    const std::string& minutes = fields[fields.size() - 2];
    if (!IsDigits(minutes) || minutes.size() > 6) return std::nullopt;
    int64_t minuteValue = std::stoll(minutes);
    if (fields.size() == 3) {
        const std::string& hours = fields[0];
        if (!IsDigits(hours) || hours.size() > 6 || minuteValue >= 60) return std::nullopt;
        total += std::stoll(hours) * 3600 * kTicksPerSecond;
    }
    total += minuteValue * 60 * kTicksPerSecond;
    return total;
}

int64_t ParseTimeOrFail(const std::string& text, const std::string& option) {
    auto ticks = ParseTime(text);
    if (!ticks) UsageError("bad time '" + text + "' for " + option + ": " + TimeHelp());
    return *ticks;
}

std::vector<int64_t> ParseTimeList(const std::string& text, const std::string& option) {
    std::vector<int64_t> times;
    for (const std::string& part : SplitText(text, ',')) times.push_back(ParseTimeOrFail(part, option));
    return times;
}

StartLength ParseStartLength(const std::string& text, const std::string& option) {
    size_t plus = text.find('+');
    if (plus == std::string::npos || text.find('+', plus + 1) != std::string::npos)
        UsageError("bad clip '" + text + "' for " + option + ": write START+LENGTH, for example 1:30+45 or 90+45.5");
    StartLength clip;
    clip.start = ParseTimeOrFail(text.substr(0, plus), option);
    clip.length = ParseTimeOrFail(text.substr(plus + 1), option);
    if (clip.length <= 0) UsageError("bad clip '" + text + "' for " + option + ": the length must be above zero");
    return clip;
}

std::optional<int64_t> ParseByteCount(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::string number = text;
    double scale = 1;
    switch (number.back()) {
        case 'k': case 'K': scale = 1024.0; break;
        case 'm': case 'M': scale = 1024.0 * 1024; break;
        case 'g': case 'G': scale = 1024.0 * 1024 * 1024; break;
        default: break;
    }
    if (scale != 1) number.pop_back();
    if (number.empty() || std::count(number.begin(), number.end(), '.') > 1) return std::nullopt;
    size_t dot = number.find('.');
    std::string whole = number.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : number.substr(dot + 1);
    if ((!whole.empty() && !IsDigits(whole)) || (dot != std::string::npos && !IsDigits(fraction))) return std::nullopt;
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if (scale == 1 && dot != std::string::npos) return std::nullopt;  // bytes come whole
    if (whole.size() > 15) return std::nullopt;
    double value = std::stod("0" + number) * scale;
    if (!(value >= 1) || value > 9.0e15) return std::nullopt;
    return static_cast<int64_t>(value);
}

std::string FormatClock(int64_t ticks) {
    bool negative = ticks < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(ticks) : static_cast<uint64_t>(ticks);
    uint64_t milliseconds = (magnitude + 5000) / 10000;
    uint64_t hours = milliseconds / 3'600'000;
    uint64_t minutes = milliseconds / 60'000 % 60;
    uint64_t seconds = milliseconds / 1000 % 60;
    char text[64];
    if (hours > 0)
        snprintf(text, sizeof text, "%s%llu:%02llu:%02llu.%03llu", negative ? "-" : "", (unsigned long long)hours,
                 (unsigned long long)minutes, (unsigned long long)seconds, (unsigned long long)(milliseconds % 1000));
    else
        snprintf(text, sizeof text, "%s%02llu:%02llu.%03llu", negative ? "-" : "", (unsigned long long)minutes,
                 (unsigned long long)seconds, (unsigned long long)(milliseconds % 1000));
    return text;
}

std::string FormatSeconds(double seconds, int decimals) {
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(seconds) ? seconds : 0.0);
    return text;
}

std::string FormatBytes(double bytes) {
    static const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[64];
    snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

std::string FormatBitRate(double bitsPerSecond) {
    char text[64];
    if (bitsPerSecond >= 1'000'000)
        snprintf(text, sizeof text, "%.2f Mb/s", bitsPerSecond / 1'000'000);
    else
        snprintf(text, sizeof text, "%.0f kb/s", bitsPerSecond / 1000);
    return text;
}

}  // namespace kxcli
