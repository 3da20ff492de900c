#include "output/OutputFailure.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

#include "KX_Remuxion.h"
#include "platform/WideString.h"

namespace kx {

namespace {

// AVERROR(e) is -e; the library's own codes are large negative tags.
constexpr int kLargestErrno = 4095;

}  // namespace

std::string OutputFailure::Text() const { return "cannot write " + WideToUtf8(path) + ": " + reason; }

int32_t OutputFailure::Status() const { return systemError > 0 ? KX_E_FROM_ERRNO(systemError) : KX_E_FAIL; }

OutputFailure SystemFailure(OutputStep step, const std::u16string& path, int systemError) {
    OutputFailure failure;
    failure.step = step;
    failure.systemError = systemError;
    failure.path = path;
    failure.reason = systemError == EEXIST ? "it already exists" : std::strerror(systemError);
    return failure;
}

OutputFailure LibraryFailure(OutputStep step, const std::u16string& path, int averror) {
    if (averror < 0 && averror >= -kLargestErrno) return SystemFailure(step, path, -averror);
    OutputFailure failure;
    failure.step = step;
    failure.path = path;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    failure.reason = text;
    return failure;
}

}  // namespace kx
