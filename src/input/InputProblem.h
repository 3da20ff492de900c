// Why an input could not be opened, as a value: the kind, and the detail
// that makes the message precise (a name, a limit, the library's words).
#pragma once

#include <string>

namespace kx {

enum class InputFault {
    kNone,
    kNoSuchFile,        // nothing under that name
    kNotAFile,          // a folder, a device, a pipe or a socket
    kUnreadable,        // detail: the system's reason
    kNameTooLong,       // detail: the name's length in bytes
    kLinksOtherFiles,   // a playlist-style format; detail: its name (hls, concat, ...)
    kNamesOtherFile,    // the file asked to open another one; detail: that name
    kNotMedia,          // no format reads it; detail: the library's reason, if any
    kTooManyStreams,    // detail: the limit
    kTooSlow,           // reading its header and stream information took too long; detail: seconds
    kTooLarge,          // ... took too much memory; detail: megabytes
};

struct InputProblem {
    InputFault fault = InputFault::kNone;
    std::string detail;

    bool Failed() const { return fault != InputFault::kNone; }
};

// One line for a person, without the file's name: "it is a folder, not a
// file", "it is an hls playlist, which names other files to read; ...".
std::string DescribeInputProblem(const InputProblem& problem);

}  // namespace kx
