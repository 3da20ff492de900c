#include "input/InputProblem.h"

#include "input/InputLimits.h"

namespace kx {

std::string DescribeInputProblem(const InputProblem& problem) {
    const std::string& detail = problem.detail;
    switch (problem.fault) {
        case InputFault::kNone: return {};
        case InputFault::kNoSuchFile: return "no such file";
        case InputFault::kNotAFile: return "it is " + (detail.empty() ? std::string("not a regular file") : detail) +
                                           ", not a media file";
        case InputFault::kUnreadable: return "it cannot be read: " + detail;
        case InputFault::kNameTooLong:
            return "its name is " + detail + " bytes long in UTF-8; names of up to " +
                   std::to_string(kMaxInputNameBytes) + " bytes can be opened";
        case InputFault::kLinksOtherFiles:
            return "it is " + detail + ", a format that reads other files it names; such inputs are refused"
                   " unless the host allows them (KX_SetInputOptions)";
        case InputFault::kNamesOtherFile:
            return "it asks to open another file (" + detail + "); only the named file itself is read";
        case InputFault::kNotMedia:
            return "not a media file that can be read" + (detail.empty() ? std::string() : " (" + detail + ")");
        case InputFault::kTooManyStreams:
            return "it declares more than " + detail + " streams, the most an input may have";
        case InputFault::kTooSlow:
            return "reading its header and stream information took more than " + detail +
                   " s of processor time, the most an input may take";
        case InputFault::kTooLarge:
            return "reading its header and stream information took more than " + detail +
                   " MB of memory, the most an input may take";
    }
    return {};
}

}  // namespace kx
