// How a reader's input ended: at the end its index or duration promised, or
// early, because the file was cut short (before or while it was read).
#pragma once

#include <cstdint>
#include <string>

namespace kx {

enum class InputEndKind {
    kNotReached,  // the reader has not run out
    kComplete,    // it ran out where the file said it would
    kEarly,       // it ran out before, and the file shows it was cut short
};

// What shows that a file was cut short; time alone does not (a stream may
// end a little before the file's duration without anything missing).
enum class CutShortSign {
    kNone,
    kPacketCutShort,  // the last packet read was shorter than its index or header said
    kIndexPastEnd,    // the index places media after the end of the file
    kLengthPastEnd,   // the container declares more bytes than the file holds
    kFileShrank,      // the file is smaller now than when it was opened
    kReadError,       // reading stopped with an error, not at the end of the file
};

struct InputEnd {
    InputEndKind kind = InputEndKind::kNotReached;
    CutShortSign sign = CutShortSign::kNone;
    int64_t reachedTicks = 0;   // end of the last packet read, on the file's clock
    int64_t expectedTicks = 0;  // where the index or duration says it ends
    std::string readError;      // the library's words for kReadError
};

// What a reader saw when it ran out.
struct EndObservation {
    int64_t reachedTicks = 0;
    int64_t expectedTicks = 0;  // 0 when the file says nothing
    bool lastPacketCutShort = false;
    bool indexPastEnd = false;
    bool lengthPastEnd = false;
    bool fileShrank = false;
    int readError = 0;  // 0 for the end of the file
};

InputEnd JudgeInputEnd(const EndObservation& seen);

// Of two readers of one file, the end to report: an early one over the
// others, the earlier early one over a later one.
InputEnd WorseInputEnd(const InputEnd& a, const InputEnd& b);

// "the index places media after the end of the file", ...
std::string DescribeCutShortSign(CutShortSign sign);

}  // namespace kx
