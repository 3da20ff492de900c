// Driving whole tasks through IStreamwright, and judging outputs with ffprobe/ffmpeg.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KX_Remuxion.h"
#include "TestSupport.h"

namespace kxtest {

constexpr int64_t kSecond = 10'000'000;

// Notifications as the host sees them.
struct Notification {
    int32_t code;
    int64_t fileId;
    int64_t clipIndex;
    bool hasCursor;
    int32_t value;
};

class NotificationLog {
public:
    static int32_t Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value);
    void Add(const Notification& notification);
    std::vector<Notification> All();
    // Codes only, with runs of progress codes folded into one KX_NOTIFY_PROGRESS.
    std::vector<int32_t> Codes();
    std::atomic<int> count{0};

private:
    std::mutex mutex_;
    std::vector<Notification> items_;
};

// Logs a task's notifications and pauses the task from its own worker at the
// first one that `when` picks (numbered from 1), so that a test finds the task
// reliably in the middle of its work. Declared before the converter, so that
// it outlives the worker.
class PauseAt {
public:
    using Rule = std::function<bool(const Notification&, int number)>;
    explicit PauseAt(Rule when) : when_(std::move(when)) {}
    // Takes the converter's notifications.
    void Attach(IStreamwright* converter);
    // Whether the pause came within 5 s.
    bool WaitForPause() const;

    NotificationLog log;
    std::atomic<int> seen{0};
    std::atomic<bool> paused{false};

private:
    static int32_t Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value);
    IStreamwright* converter_ = nullptr;
    Rule when_;
};

// The rule that pauses when clip `index` (of any file) begins.
PauseAt::Rule AtClip(int64_t index);

// A fresh, empty folder in this process's own folder under the test temp
// folder (removed when the tests end).
std::string TempFolder(const std::string& name);

// The temporary files (".<name>.partial-XXXXXX") in a folder, and the one
// of a given output ("" when there is none).
std::vector<std::string> PartialFilesIn(const std::string& folder);
std::string PartialFileOf(const std::string& output);
// Whether a file name is a temporary output file.
bool IsPartialName(const std::string& name);

// GetOutputCount, then the name of each output of the file.
std::vector<std::string> OutputNames(IStreamwright* converter, int64_t fileId);
// KX_GetLastErrorText as UTF-8 ("" when there is none).
std::string LastErrorText(IStreamwright* converter);

// One converter with helpers for the common steps.
class Task {
public:
    Task();
    ~Task();
    IStreamwright* operator->() const { return converter_; }
    IStreamwright* get() const { return converter_; }

    // AddFile and OpenStream of the given (index, kind) pairs; -1 on failure.
    int64_t Add(const std::string& path,
                const std::vector<std::pair<int32_t, int32_t>>& streams = {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
    void SetOutput(const std::string& path);
    // GetOutputCount, PrepareTask, StartDemuxers, Start; returns PrepareTask's status
    // (or Start's when PrepareTask succeeded and Start failed).
    HRESULT Launch(int64_t fileId);
    // Waits until the worker has ended.
    void Wait();
    std::string OutputName(int64_t fileId, int64_t index);

    NotificationLog notifications;

private:
    IStreamwright* converter_;
};

// The limit of every step of a GuardedConverter. Generous: sanitizer builds
// are several times slower than release builds.
constexpr std::chrono::seconds kStepTimeLimit{60};

// Runs `work` on a thread of its own and waits at most `limit`; false when it
// did not end in time (the thread is then left running, detached).
bool EndsWithin(std::chrono::milliseconds limit, std::function<void()> work);

// Writes `size` bytes of `source` (from its start) to `target`.
void CopyHead(const std::string& source, const std::string& target, uint64_t size);

// Writes bytes to a new file, making its folder where there is none.
void WriteBytes(const std::string& path, const std::string& bytes);

// Names of the regular files and links under `folder`, recursively, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);

// A converter driven with a time bound on every step, for inputs and outputs
// that may make it misbehave: a step that does not end in time fails the test
// and leaves the converter alone (never released), so that the suite goes on.
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
    // GetFileKeyFrameIndex into a host list, bounded.
    HRESULT KeyFrameIndex(int64_t fileId);
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
