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

// Starts a split of `input` into clips of `length` at `starts`, into `folder`;
// the output names, none when a step failed.
std::vector<std::string> StartSplit(IStreamwright* converter, const std::string& input,
                                    const std::vector<int64_t>& starts, int64_t length, const std::string& folder) {
    const int64_t id = converter->AddFile(Bstr(input));
    if (id < 0 || converter->OpenStream(id, 0, KX_STREAM_VIDEO) != KX_S_OK) return {};
    if (input.find("video_only") == std::string::npos && converter->OpenStream(id, 1, KX_STREAM_AUDIO) != KX_S_OK)
        return {};
    for (int64_t start : starts) {
        ClipRange clip{start, length, 0};
        converter->AddTimeClip(id, &clip);
    }
    std::filesystem::create_directories(folder);
    converter->SetOutputPath(Bstr(folder));
    const std::vector<std::string> names = OutputNames(converter, id);
    if (converter->PrepareTask() != KX_S_OK) return {};
    converter->StartDemuxers();
    return converter->Start() == KX_S_OK ? names : std::vector<std::string>{};
}

// Splits `input` into two 2-second clips in `folder`; the output names, or
// none when a step failed or the task did not end in time.
std::vector<std::string> RunSplit(const std::string& input, const std::string& folder) {
    GuardedConverter converter;
    const auto names = StartSplit(converter.get(), input, {1 * kSecond, 5 * kSecond}, 2 * kSecond, folder);
    return !names.empty() && converter->WaitForCompletion(60'000) == KX_WAIT_OBJECT_0 ? names
                                                                                        : std::vector<std::string>{};
}

}  // namespace

TEST(Concurrency, EightConvertersOnEightThreadsWriteWhatOneAtATimeWrites) {
    const std::vector<std::string> inputs = {
        Fixture("h264_aac.mp4"), Fixture("h264_aac_lowrate.mp4"),    Fixture("h264_aac.mkv"),
        Fixture("h264_aac.ts"),  Fixture("h264_aac.m2ts"),           Fixture("h264_bframes_opengop.mp4"),
        Fixture("h264_aac_mono44k.mp4"), Fixture("video_only.mp4"),
    };
    const size_t n = inputs.size();
    const std::string root = TempFolder("concurrent_splits");
    std::vector<std::vector<std::string>> alone(n), together(n);
    for (size_t i = 0; i < n; ++i) {
        alone[i] = RunSplit(inputs[i], root + "/alone_" + std::to_string(i));
        ASSERT_EQ(alone[i].size(), 2u) << inputs[i];
    }
    std::latch ready(static_cast<std::ptrdiff_t>(n));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            ready.arrive_and_wait();  // all at once
            together[i] = RunSplit(inputs[i], root + "/together_" + std::to_string(i));
        });
    }
    for (auto& thread : threads) thread.join();

    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(together[i].size(), 2u) << inputs[i];
        for (size_t j = 0; j < 2; ++j) {
            const std::string &a = alone[i][j], &b = together[i][j];
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

// Notifications of a whole task of the kind.
int WholeTaskNotifications(bool merge, const std::string& output) {
    PauseAt counter([](const Notification&, int) { return false; });
    GuardedConverter converter;
    counter.Attach(converter.get());
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
    for (int run = 0; run < 50; ++run) {
        const bool merge = run % 2 == 0;
        const int at = static_cast<int>(share(random) * whole[merge]);
        // Half the runs pause there and stop the paused task; the others stop
        // the running task as soon as the host sees that point passed.
        const bool pauseThere = coin(random) == 1;
        SCOPED_TRACE("run " + std::to_string(run) + (merge ? " merge" : " mix") + ", stop at notification " +
                     std::to_string(at) + " of " + std::to_string(whole[merge]) + (pauseThere ? ", paused" : ""));
        const std::string output = root + "/run_" + std::to_string(run) + ".mp4";
        {
            PauseAt point([pauseAt = pauseThere ? std::max(at, 1) : -1](const Notification&, int number) {
                return number == pauseAt;
            });
            GuardedConverter converter;
            point.Attach(converter.get());
            ASSERT_TRUE(StartMergeOrMix(converter, merge, output));
            for (int i = 0; i < 20'000; ++i) {
                if (pauseThere ? point.paused.load() : point.seen.load() >= at) break;
                if (converter->WaitForCompletion(0) == KX_WAIT_OBJECT_0) break;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
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
        if (std::filesystem::exists(output)) {
            EXPECT_EQ(ReadProblems(output), "") << output;
        }
    }
}

TEST(Concurrency, ReleasingTheConverterDuringATaskJoinsTheWorkerFirst) {
    const std::string folder = TempFolder("release_mid_task");
    const size_t threadsBefore = ThreadCountAtRest();
    PauseAt pause(AtClip(1));
    IStreamwright* converter = CreateConverter();
    ASSERT_NE(converter, nullptr);
    pause.Attach(converter);
    const auto names =
        StartSplit(converter, Fixture("h264_aac.mp4"), {0, 3 * kSecond, 6 * kSecond}, 3 * kSecond, folder);
    ASSERT_EQ(names.size(), 3u);
    ASSERT_TRUE(pause.WaitForPause());
    EXPECT_GT(ThreadCount(), threadsBefore) << "the worker runs";

    // The last reference: the worker must be stopped and joined before the
    // converter's state goes away.
    ASSERT_TRUE(EndsWithin(std::chrono::seconds(30), [converter] { converter->Release(); }))
        << "Release did not return";
    EXPECT_EQ(ThreadCountSettledAt(threadsBefore), threadsBefore) << "no worker left running";
    const int count = pause.log.count.load();
    EXPECT_EQ(pause.log.Codes().back(), KX_NOTIFY_TASK_END) << "the worker finished before Release returned";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pause.log.count.load(), count) << "no notification after Release";

    // The finished clip stays and plays. The clip the stop cut off and the one
    // never reached leave nothing, not even a temporary file.
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
        ASSERT_EQ(StartSplit(converter, Fixture("h264_aac.mp4"), {0}, 8 * kSecond, root).size(), 1u);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ASSERT_TRUE(EndsWithin(std::chrono::seconds(30), [converter] { converter->Release(); }));
        EXPECT_EQ(ThreadCountSettledAt(threadsBefore), threadsBefore) << "run " << run;
        const int count = log.count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(log.count.load(), count) << "run " << run << ": no notification after Release";
        EXPECT_TRUE(PartialFilesIn(root).empty()) << "run " << run;
    }
}
