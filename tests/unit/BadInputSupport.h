// A converter driven with a time bound on every step, for inputs and outputs
// that may make it misbehave: a step that does not end in time fails the test
// and leaves the converter alone (never released), so that the suite goes on.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KX_Remuxion.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

namespace kxtest {

// Generous: sanitizer builds are several times slower than release builds.
constexpr std::chrono::seconds kStepTimeLimit{60};

// Runs `work` on a thread of its own and waits at most `limit`; false when it
// did not end in time (the thread is then left running, detached).
bool EndsWithin(std::chrono::milliseconds limit, std::function<void()> work);

// Writes `size` bytes of `source` (from its start) to `target`.
void CopyHead(const std::string& source, const std::string& target, uint64_t size);

// Writes bytes to a new file.
void WriteBytes(const std::string& path, const std::string& bytes);

// Names of the regular files under `folder`, recursively.
std::vector<std::string> FilesUnder(const std::string& folder);

class GuardedConverter {
public:
    GuardedConverter();
    ~GuardedConverter();
    GuardedConverter(const GuardedConverter&) = delete;
    GuardedConverter& operator=(const GuardedConverter&) = delete;

    IStreamwright* operator->() const { return converter_; }
    IStreamwright* get() const { return converter_; }
    bool hung() const { return hung_; }

    // AddFile; -1 on failure (or when it did not end in time).
    int64_t AddFile(const std::string& path);
    // AddFile and OpenStream of each (index, kind); -1 when AddFile failed.
    int64_t AddFileWithStreams(const std::string& path, const std::vector<std::pair<int32_t, int32_t>>& streams);
    // GetFileKeyFrameIndex, bounded; the key frames found go to *count.
    HRESULT KeyFrameIndex(int64_t fileId, int64_t* count = nullptr);
    void SetOutputPath(const std::string& path);
    // GetOutputCount and PrepareTask, bounded.
    HRESULT Prepare(int64_t fileId);
    // StartDemuxers, Start and WaitForCompletion with the time limit; true
    // when the task started and ended in time.
    bool RunToEnd();
    // Release now (bounded); later calls do nothing.
    void Release();

    NotificationLog& notifications() { return *notifications_; }

private:
    // A step on another thread; marks the converter hung when it overruns.
    bool Bounded(const char* what, std::function<void()> work);

    IStreamwright* converter_ = nullptr;
    // Shared with a worker that may outlive a hung converter.
    std::shared_ptr<NotificationLog> notifications_;
    bool hung_ = false;
};

}  // namespace kxtest
