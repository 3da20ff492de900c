// Why an output file could not be written, as a value that travels from the
// writer to the task and on to the host: the step that failed, the system's
// error number when the system refused, the output's name and the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kx {

enum class OutputStep {
    kCheck,    // the name was refused before anything was written
    kCreate,   // the temporary file could not be made
    kHeader,
    kPacket,
    kTrailer,
    kClose,    // flushing, syncing or closing the file
    kRename,   // giving the finished file its name
};

struct OutputFailure {
    OutputStep step = OutputStep::kPacket;
    int systemError = 0;   // errno; 0 when the refusal is not the system's
    std::u16string path;   // the output's final name
    std::string reason;    // "No space left on device", "it already exists"

    // "cannot write /out/a_0_000.mp4: No space left on device"
    std::string Text() const;
    // The status a host sees: KX_E_FROM_ERRNO(systemError), else KX_E_FAIL.
    int32_t Status() const;
};

// The failure of a step that is known by an errno value.
OutputFailure SystemFailure(OutputStep step, const std::u16string& path, int systemError);
// The failure of a step of the media library: its AVERROR result, which
// carries an errno value when the system refused.
OutputFailure LibraryFailure(OutputStep step, const std::u16string& path, int averror);

// The result of a step on an output: success, or the failure.
class [[nodiscard]] WriteStatus {
public:
    WriteStatus() = default;
    WriteStatus(OutputFailure failure) : failure_(std::move(failure)) {}  // NOLINT: a failure is a status

    bool ok() const { return !failure_; }
    const OutputFailure& failure() const { return *failure_; }

private:
    std::optional<OutputFailure> failure_;
};

}  // namespace kx
