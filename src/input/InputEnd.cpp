#include "input/InputEnd.h"

#include <algorithm>

extern "C" {
#include <libavutil/error.h>
}

namespace kx {

namespace {

// Less missing than this is rounding between the container's duration and
// its last packet, not a cut.
constexpr int64_t kEndSlackTicks = 100'000;  // 10 ms

int Rank(InputEndKind kind) {
    switch (kind) {
        case InputEndKind::kEarly: return 2;
        case InputEndKind::kComplete: return 1;
        case InputEndKind::kNotReached: return 0;
    }
    return 0;
}

}  // namespace

InputEnd JudgeInputEnd(const EndObservation& seen) {
    InputEnd end;
    end.kind = InputEndKind::kComplete;
    end.reachedTicks = std::max<int64_t>(seen.reachedTicks, 0);
    end.expectedTicks = std::max<int64_t>(seen.expectedTicks, 0);
    if (seen.readError != 0) {
        end.sign = CutShortSign::kReadError;
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(seen.readError, text, sizeof text);
        end.readError = text;
    } else if (seen.fileShrank) {
        end.sign = CutShortSign::kFileShrank;
    } else if (seen.indexPastEnd) {
        end.sign = CutShortSign::kIndexPastEnd;
    } else if (seen.lengthPastEnd) {
        end.sign = CutShortSign::kLengthPastEnd;
    } else if (seen.lastPacketCutShort) {
        end.sign = CutShortSign::kPacketCutShort;
    }
    const bool missing = end.expectedTicks > 0 && end.reachedTicks < end.expectedTicks - kEndSlackTicks;
    if (end.sign != CutShortSign::kNone && missing) end.kind = InputEndKind::kEarly;
    return end;
}

InputEnd WorseInputEnd(const InputEnd& a, const InputEnd& b) {
    if (Rank(a.kind) != Rank(b.kind)) return Rank(a.kind) > Rank(b.kind) ? a : b;
    if (a.kind != InputEndKind::kEarly) return a;
    InputEnd worse = a.reachedTicks <= b.reachedTicks ? a : b;
    worse.expectedTicks = std::max(a.expectedTicks, b.expectedTicks);
    return worse;
}

std::string DescribeCutShortSign(CutShortSign sign) {
    switch (sign) {
        case CutShortSign::kNone: return {};
        case CutShortSign::kLengthPastEnd: return "its container declares more bytes than the file holds";
        case CutShortSign::kPacketCutShort: return "its last packet is cut short";
        case CutShortSign::kIndexPastEnd: return "its index places media after the end of the file";
        case CutShortSign::kFileShrank: return "the file became smaller while it was read";
        case CutShortSign::kReadError: return "reading it failed";
    }
    return {};
}

}  // namespace kx
