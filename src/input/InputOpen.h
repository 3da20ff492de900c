// The one way every reader of an input opens it: a local file under its
// exact name (never a URL), or bytes in memory; the formats that read other
// files refused unless the host allowed them; the cost of the header and
// the stream information bounded (InputLimits.h). Failures come back as a
// value with their reason.
#pragma once

#include <string>

#include "input/InputProblem.h"
#include "input/MemoryInput.h"

struct AVFormatContext;
struct AVInputFormat;

namespace kx {

// Whether formats that read other files named inside the input (hls, dash,
// concat, image sequences, ...) may be opened. Those files are still read
// as local files only.
enum class LinkedFiles { kRefuse, kAllow };

// Whether bit rates the container does not store are counted from every
// packet of the file, or left 0.
enum class RateCount { kCountWhereMissing, kStoredOnly };

struct InputPolicy {
    LinkedFiles linkedFiles = LinkedFiles::kRefuse;
    RateCount rates = RateCount::kCountWhereMissing;
};

// What an input reads.
struct InputSource {
    std::u16string path;  // the name as the host gave it (for memory: a label)
    InputBytes bytes;     // set: read these bytes instead of the file
    InputPolicy policy;
    // Once an open has found the format, later opens of the same source
    // take it instead of probing again.
    const AVInputFormat* format = nullptr;

    static InputSource File(std::u16string path, InputPolicy policy = {});
    static InputSource Memory(InputBytes bytes, std::u16string label = u"memory");
};

enum class ProbeDepth {
    kHeader,       // the container's header only
    kStreamInfo,   // and the stream information (probing decoders)
};

// Whether packets without a presentation time get one computed by the
// library (readers), or come as stored (counting passes).
enum class MissingPts { kGenerate, kLeave };

struct OpenedInput {
    AVFormatContext* context = nullptr;  // close with CloseInput
    InputProblem problem;                // set when context is null
};

OpenedInput OpenInput(const InputSource& source, ProbeDepth depth, MissingPts pts = MissingPts::kGenerate);

// Presentation times the container leaves out are guessed by the library
// only where pictures are reordered; without reordering a player shows each
// picture at its decoding time, and so do stream readers.
void GenerateMissingPtsAsReaders(AVFormatContext* context);

// Closes a context made by OpenInput (or handed on from one); sets it null.
void CloseInput(AVFormatContext** context);

// The size of the input in bytes as it is now: a file being cut short while
// it is read shrinks. -1 when unknown.
int64_t CurrentInputBytes(AVFormatContext* context);

}  // namespace kx
