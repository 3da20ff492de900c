#include "KeyFrames.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "Console.h"
#include "Interrupt.h"
#include "Progress.h"

namespace kxcli {

namespace {

// How often the bar is redrawn and Ctrl-C looked at; the end of the scan
// wakes the wait at once.
constexpr auto kPoll = std::chrono::milliseconds(50);
constexpr double kQuietStartSeconds = 0.5;  // short scans draw nothing

int32_t OnKeyFrameProgress(void* context, int32_t code, TaskCursor*, int32_t value) {
    if (code == KX_NOTIFY_KEYFRAME_PROGRESS || code == KX_NOTIFY_KEYFRAME_DONE)
        static_cast<std::atomic<int>*>(context)->store(value);
    return 0;
}

// Runs `query` on a thread of its own while this one draws progress and
// watches for Ctrl-C, which cancels it and ends the program.
std::vector<KeyFrameRecord> QueryWithProgress(IStreamwright* converter, const InputFile& input, bool quiet,
                                              const std::function<HRESULT(KeyFrameList*)>& query) {
    if (!input.HasSelected(MediaKind::kVideo)) Fail(input.path + " has no video stream, so it has no key frames");

    std::atomic<int> percent{0};
    converter->SetCallback(&OnKeyFrameProgress, &percent, 1);
    KeyFrameList list{0, nullptr, 0};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    HRESULT status = KX_E_FAIL;
    std::thread scan([&] {
        HRESULT result = query(&list);
        std::lock_guard<std::mutex> lock(mutex);
        status = result;
        done = true;
        ended.notify_one();
    });

    bool cancelled = false;
    {
        ProgressDisplay progress("key frames", input.desc.duration, quiet, kQuietStartSeconds);
        std::unique_lock<std::mutex> lock(mutex);
        while (!ended.wait_for(lock, kPoll, [&] { return done; })) {
            if (Interrupted() && !cancelled) {
                cancelled = true;
                converter->CancelKeyFrameIndex(input.id);
            }
            progress.Update(percent);
        }
        lock.unlock();
        scan.join();
        progress.Finish(status == KX_S_OK && !cancelled);
    }
    converter->SetCallback(nullptr, nullptr, 1);

    std::vector<KeyFrameRecord> records;
    if (list.items && list.count > 0) records.assign(list.items, list.items + list.count);
    Component().freeKeyFrameList(&list);
    if (cancelled) throw CliError("interrupted while indexing the key frames of " + input.path, kExitInterrupted);
    if (status != KX_S_OK) Fail("cannot index the key frames of " + input.path);
    return records;
}

}  // namespace

std::vector<KeyFrameRecord> IndexKeyFrames(IStreamwright* converter, const InputFile& input, bool quiet) {
    return QueryWithProgress(converter, input, quiet, [&](KeyFrameList* list) {
        return converter->GetFileKeyFrameIndex(input.id, &list);
    });
}

std::vector<KeyFrameRecord> KeyFramesNear(IStreamwright* converter, const InputFile& input,
                                          const std::vector<int64_t>& times, bool quiet) {
    return QueryWithProgress(converter, input, quiet, [&](KeyFrameList* list) {
        return Component().getKeyFramesNear(converter, input.id, times.data(), static_cast<int32_t>(times.size()),
                                            list);
    });
}

int64_t NearestKeyFrame(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    if (keyFrames.empty()) return t;
    const KeyFrameRecord* before = nullptr;
    for (const auto& k : keyFrames) {
        if (k.time == t) return t;
        if (k.time < t) {
            before = &k;
        } else {
            if (!before) return k.time;
            return (t - before->time < k.time - t) ? before->time : k.time;
        }
    }
    return keyFrames.back().time;
}

}  // namespace kxcli
