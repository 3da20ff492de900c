// Converters side by side, stops at random points, and releases during a
// task (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <latch>
#include <random>
#include <thread>

#include "TaskTestSupport.h"

using namespace kxtest;

namespace {

// Packets of every stream, as ffmpeg reads them: timestamps, sizes and a hash
// of each packet's bytes. Equal for two files that carry the same packets,
// even when container details (such as the random ids of Matroska) differ.
std::string PacketHashes(const std::string& path) {
    return RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0 -c copy -f framemd5 - 2>&1 | grep -v '^#'");
}

// Number of threads of this process.
size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// The thread count with no task running. A thread is started and joined
// first: sanitizer runtimes start a thread of their own on the first one.
size_t ThreadCountAtRest() {
    std::thread([] {}).join();
    return ThreadCount();
}

// The thread count once it has come down to `expected` (a helper thread that
// has just finished its work may still be on its way out), or after 2 s.
size_t ThreadCountSettledAt(size_t expected) {
    size_t count = ThreadCount();
    for (int i = 0; i < 200 && count > expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = ThreadCount();
    }
    return count;
}

struct SplitJob {
    std::string input;
    std::vector<std::pair<int32_t, int32_t>> streams;
};

// Splits the job's input into two 2-second clips in `folder`; returns the
// output names, or none when a step failed or the task did not end in time.
std::vector<std::string> RunSplit(const SplitJob& job, const std::string& folder) {
    GuardedConverter converter;
    int64_t id = converter.AddFileWithStreams(job.input, job.streams);
    if (id < 0) return {};
    for (int64_t start : {1 * kSecond, 5 * kSecond}) {
        ClipRange clip{start, 2 * kSecond, 0};
        converter->AddTimeClip(id, &clip);
    }
    converter.SetOutputPath(folder);
    if (converter.Prepare(id) != KX_S_OK || !converter.RunToEnd()) return {};
    std::vector<std::string> names;
    for (int64_t j = 0; j < 2; ++j) {
        BSTR name = nullptr;
        if (converter->GetOutputFileName(id, j, &name) == KX_S_OK) names.push_back(Narrow(name));
        SysFreeString(name);
    }
    return names;
}

}  // namespace

TEST(Concurrency, EightConvertersOnEightThreadsWriteWhatOneAtATimeWrites) {
    const std::vector<SplitJob> jobs = {
        {Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_aac_lowrate.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_aac.mkv"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_aac.ts"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_aac.m2ts"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_bframes_opengop.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("h264_aac_mono44k.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}},
        {Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}}},
    };
    const size_t n = jobs.size();
    const std::string root = TempFolder("concurrent_splits");

    std::vector<std::vector<std::string>> alone(n);
    for (size_t i = 0; i < n; ++i) {
        const std::string folder = root + "/alone_" + std::to_string(i);
        std::filesystem::create_directories(folder);
        alone[i] = RunSplit(jobs[i], folder);
        ASSERT_EQ(alone[i].size(), 2u) << jobs[i].input;
    }

    std::vector<std::vector<std::string>> together(n);
    std::latch ready(static_cast<std::ptrdiff_t>(n));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i) {
        const std::string folder = root + "/together_" + std::to_string(i);
        std::filesystem::create_directories(folder);
        threads.emplace_back([&, i, folder] {
            ready.arrive_and_wait();  // all at once
            together[i] = RunSplit(jobs[i], folder);
        });
    }
    for (auto& thread : threads) thread.join();

    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(together[i].size(), 2u) << jobs[i].input;
        for (size_t j = 0; j < 2; ++j) {
            const std::string& a = alone[i][j];
            const std::string& b = together[i][j];
            if (ReadAll(a) == ReadAll(b)) continue;
            // Matroska writes random ids: then the packets must be the same.
            const std::string hashes = PacketHashes(a);
            EXPECT_FALSE(hashes.empty()) << a;
            EXPECT_EQ(PacketHashes(b), hashes) << a << " and " << b << " differ";
        }
    }
}

namespace {

// A merge of two files, or a stream mix of a video-only and an audio-only
// file, prepared and started into `output`.
bool StartMergeOrMix(GuardedConverter& converter, bool merge, const std::string& output) {
    int64_t first = -1;
    if (merge) {
        first = converter.AddFileWithStreams(Fixture("h264_aac.mp4"), {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}});
        if (converter.AddFileWithStreams(Fixture("h264_aac_lowrate.mp4"),
                                         {{0, KX_STREAM_VIDEO}, {1, KX_STREAM_AUDIO}}) < 0)
            return false;
        converter->SetTaskType(KX_TASK_MERGE, -1);
        converter->CheckMerge()->Release();
    } else {
        first = converter.AddFileWithStreams(Fixture("video_only.mp4"), {{0, KX_STREAM_VIDEO}});
        if (converter.AddFileWithStreams(Fixture("audio_only.m4a"), {{0, KX_STREAM_AUDIO}}) < 0) return false;
        converter->SetTaskType(KX_TASK_STREAM_MIX, -1);
    }
    if (first < 0) return false;
    converter.SetOutputPath(output);
    if (converter.Prepare(first) != KX_S_OK) return false;
    converter->StartDemuxers();
    return converter->Start() == KX_S_OK;
}

// Counts the task's notifications and, at a chosen one, pauses the task from
// its own worker, so that a stop can land at a known point of its progress.
struct StopPoint {
    IStreamwright* converter = nullptr;
    int pauseAt = -1;  // notification number that pauses; -1 none
    NotificationLog log;
    std::atomic<int> seen{0};
    std::atomic<bool> paused{false};
    static int32_t Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
        auto* self = static_cast<StopPoint*>(context);
        NotificationLog::Callback(&self->log, code, cursor, value);
        if (++self->seen == self->pauseAt) {
            self->converter->Pause();
            self->paused = true;
        }
        return 0;
    }
};

// Notifications of a whole task of the kind.
int WholeTaskNotifications(bool merge, const std::string& output) {
    StopPoint counter;
    GuardedConverter converter;
    converter->SetCallback(&StopPoint::Callback, &counter, 0);
    if (!StartMergeOrMix(converter, merge, output) || converter->WaitForCompletion(60'000) != KX_WAIT_OBJECT_0) {
        ADD_FAILURE() << "a whole " << (merge ? "merge" : "mix") << " did not run";
        return 0;
    }
    return counter.seen.load();
}

// Empty when ffmpeg decodes the file without an error (or, for a file
// without packets, ffprobe reads it without a complaint); otherwise what
// they said.
std::string ReadProblems(const std::string& path) {
    std::string decoded = DecodeErrors(path);
    if (decoded.find("does not contain any stream") == std::string::npos) return decoded;
    int exitCode = -1;
    const std::string out = RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " + Quote(path) + " 2>&1",
        &exitCode);
    int64_t packets = 0;
    for (const auto& line : Lines(out)) {
        if (line.find_first_not_of("0123456789") != std::string::npos) return "ffprobe: " + out;
        packets += std::stoll(line);
    }
    if (exitCode != 0) return "ffprobe exit " + std::to_string(exitCode);
    return packets > 0 ? DecodeErrors(path) : "";
}

}  // namespace

TEST(Concurrency, StopAtRandomPointsNeverHangsAndLeavesReadableOutputs) {
    const std::string root = TempFolder("random_stops");
    // Stop points are counted in notifications (about one per percent of
    // progress), so they spread over the whole task however fast it runs.
    const int whole[2] = {WholeTaskNotifications(false, root + "/whole_mix.mp4"),
                          WholeTaskNotifications(true, root + "/whole_merge.mp4")};
    ASSERT_GT(whole[0], 4);
    ASSERT_GT(whole[1], 4);
    std::mt19937 random(20240607);  // fixed: the same sequence of stop points every run
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::uniform_int_distribution<int> coin(0, 1);
    constexpr int kRuns = 50;
    int readable = 0, deleted = 0, endedFirst = 0;
    for (int run = 0; run < kRuns; ++run) {
        const bool merge = run % 2 == 0;
        const int at = static_cast<int>(share(random) * whole[merge]);
        // Half the runs pause there and stop the paused task; the others stop
        // the running task as soon as the host sees that point passed.
        const bool pauseThere = coin(random) == 1;
        SCOPED_TRACE("run " + std::to_string(run) + (merge ? " merge" : " mix") + ", stop at notification " +
                     std::to_string(at) + " of " + std::to_string(whole[merge]) + (pauseThere ? ", paused" : ""));
        const std::string output = root + "/run_" + std::to_string(run) + ".mp4";
        {
            StopPoint point;
            GuardedConverter converter;
            point.converter = converter.get();
            point.pauseAt = pauseThere ? std::max(at, 1) : -1;
            converter->SetCallback(&StopPoint::Callback, &point, 0);
            ASSERT_TRUE(StartMergeOrMix(converter, merge, output));
            for (int i = 0; i < 20'000; ++i) {
                if (pauseThere ? point.paused.load() : point.seen.load() >= at) break;
                if (converter->WaitForCompletion(0) == KX_WAIT_OBJECT_0) break;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            if (converter->WaitForCompletion(0) == KX_WAIT_OBJECT_0) ++endedFirst;
            IStreamwright* c = converter.get();
            ASSERT_TRUE(EndsWithin(std::chrono::seconds(30), [c] { c->Stop(); })) << "Stop did not return";
            EXPECT_EQ(converter->WaitForCompletion(0), 0u) << "Stop returns after the worker ended";
            const auto codes = point.log.Codes();
            ASSERT_FALSE(codes.empty());
            EXPECT_EQ(codes.back(), KX_NOTIFY_TASK_END);
            converter.Release();
            ASSERT_FALSE(converter.hung());
        }
        // Released: the output was either finished by the run or removed as
        // unfinished, with its temporary file.
        EXPECT_TRUE(PartialFileOf(output).empty()) << output;
        if (!std::filesystem::exists(output)) {
            ++deleted;
            continue;
        }
        EXPECT_EQ(ReadProblems(output), "") << output;
        ++readable;
    }
    std::cout << kRuns << " runs (whole mix " << whole[0] << " notifications, merge " << whole[1]
              << "): " << readable << " outputs readable, " << deleted << " deleted, " << endedFirst
              << " tasks had ended before the stop\n";
}

namespace {

// Pauses the task when a given clip begins, so that the release finds it mid-task.
struct PauseAtClip {
    IStreamwright* converter = nullptr;
    int64_t clipIndex = 0;
    NotificationLog log;
    std::atomic<bool> paused{false};
    static int32_t Callback(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
        auto* self = static_cast<PauseAtClip*>(context);
        NotificationLog::Callback(&self->log, code, cursor, value);
        if (code == KX_NOTIFY_CLIP_BEGIN && cursor && cursor->clipIndex == self->clipIndex && !self->paused) {
            self->converter->Pause();
            self->paused = true;
        }
        return 0;
    }
};

// Starts a split of h264_aac.mp4 into `clips` clips of `length` into
// `folder`, the output names to `names`; false when a step failed.
bool StartSplit(IStreamwright* converter, const std::string& folder, int64_t length, int clips,
                std::vector<std::string>* names = nullptr) {
    Bstr input(Fixture("h264_aac.mp4"));
    const int64_t id = converter->AddFile(input);
    if (id < 0 || converter->OpenStream(id, 0, KX_STREAM_VIDEO) != KX_S_OK ||
        converter->OpenStream(id, 1, KX_STREAM_AUDIO) != KX_S_OK)
        return false;
    for (int j = 0; j < clips; ++j) {
        ClipRange clip{j * length, length, 0};
        converter->AddTimeClip(id, &clip);
    }
    Bstr out(folder);
    converter->SetOutputPath(out);
    converter->GetOutputCount(id);
    if (converter->PrepareTask() != KX_S_OK) return false;
    for (int64_t j = 0; names && j < clips; ++j) {
        BSTR name = nullptr;
        if (converter->GetOutputFileName(id, j, &name) != KX_S_OK) return false;
        names->push_back(Narrow(name));
        SysFreeString(name);
    }
    converter->StartDemuxers();
    return converter->Start() == KX_S_OK;
}

}  // namespace

TEST(Concurrency, ReleasingTheConverterDuringATaskJoinsTheWorkerFirst) {
    const std::string folder = TempFolder("release_mid_task");
    const size_t threadsBefore = ThreadCountAtRest();
    PauseAtClip pause;
    IStreamwright* converter = CreateConverter();
    ASSERT_NE(converter, nullptr);
    pause.converter = converter;
    pause.clipIndex = 1;
    converter->SetCallback(&PauseAtClip::Callback, &pause, 0);
    std::vector<std::string> names;
    ASSERT_TRUE(StartSplit(converter, folder, 3 * kSecond, 3, &names));
    for (int i = 0; i < 10000 && !pause.paused; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(pause.paused.load());
    EXPECT_GT(ThreadCount(), threadsBefore) << "the worker runs";

    // The last reference: the worker must be stopped and joined before the
    // converter's state goes away.
    const bool released = EndsWithin(std::chrono::seconds(30), [converter] { converter->Release(); });
    ASSERT_TRUE(released) << "Release did not return";
    EXPECT_EQ(ThreadCountSettledAt(threadsBefore), threadsBefore) << "no worker left running";
    const int count = pause.log.count.load();
    ASSERT_GT(count, 0);
    EXPECT_EQ(pause.log.Codes().back(), KX_NOTIFY_TASK_END) << "the worker finished before Release returned";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pause.log.count.load(), count) << "no notification after Release";

    // The finished clip stays and plays. The clip the stop cut off and the one
    // never reached leave nothing, not even a temporary file.
    EXPECT_TRUE(std::filesystem::exists(names[0]));
    EXPECT_EQ(DecodeErrors(names[0]), "");
    EXPECT_EQ(FilesUnder(folder), std::vector<std::string>{names[0]});
}

TEST(Concurrency, ReleasingARunningConverterAtRandomPointsJoinsItsWorker) {
    const std::string root = TempFolder("release_random");
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delayMs(0, 80);
    const size_t threadsBefore = ThreadCountAtRest();
    for (int run = 0; run < 10; ++run) {
        NotificationLog log;
        IStreamwright* converter = CreateConverter();
        ASSERT_NE(converter, nullptr);
        converter->SetCallback(&NotificationLog::Callback, &log, 0);
        ASSERT_TRUE(StartSplit(converter, root, 8 * kSecond, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ASSERT_TRUE(EndsWithin(std::chrono::seconds(30), [converter] { converter->Release(); }));
        EXPECT_EQ(ThreadCountSettledAt(threadsBefore), threadsBefore) << "run " << run;
        const int count = log.count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(log.count.load(), count) << "run " << run << ": no notification after Release";
    }
}
