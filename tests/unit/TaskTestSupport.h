// Driving whole tasks through IStreamwright, and judging outputs with ffprobe/ffmpeg.
#pragma once

#include <atomic>
#include <cstdint>
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
    std::vector<Notification> All();
    // Codes only, with runs of progress codes folded into one KX_NOTIFY_PROGRESS.
    std::vector<int32_t> Codes(bool foldProgress = true);
    std::atomic<int> count{0};

private:
    std::mutex mutex_;
    std::vector<Notification> items_;
};

// A fresh, empty folder in this process's own folder under the test temp
// folder (removed when the tests end).
std::string TempFolder(const std::string& name);

// The temporary files (".<name>.partial-XXXXXX") in a folder, and the one
// of a given output ("" when there is none).
std::vector<std::string> PartialFilesIn(const std::string& folder);
std::string PartialFileOf(const std::string& output);
// Whether a file name is a temporary output file.
bool IsPartialName(const std::string& name);

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

// ffprobe packet list of one stream: "pts_time,dts_time,duration_time,size,flags" rows.
struct ProbePacket {
    double pts;
    double dts;
    double duration;
    int64_t size;
    bool key;
};
std::vector<ProbePacket> ProbePackets(const std::string& path, const std::string& selector);

// MD5 of each decoded video frame (framemd5), in presentation order.
std::vector<std::string> FrameHashes(const std::string& path);

// Lines that `ffmpeg -v error` prints while decoding the whole file.
std::string DecodeErrors(const std::string& path);

// Codec names of the streams, in order.
std::vector<std::string> ProbeCodecs(const std::string& path);

}  // namespace kxtest
