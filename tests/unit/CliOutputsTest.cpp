// The remuxion program's outputs: a name never holds a partial file, an
// existing file is replaced only when asked and never through a link, an
// input is never written over, and a failure is one line with its reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "TaskTestSupport.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace kxclitest;
using kxtest::Fixture;
using kxtest::IsPartialName;
using kxtest::RunCommand;
using CliOutputs = CliFolder;

uint64_t BigEndian(const std::string& bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Whether an MP4 file is whole: its top-level boxes tile it exactly, with
// the media data and the index that the trailer writes last.
bool WholeMp4(const std::string& path) {
    const std::string bytes = ReadAll(path);
    bool index = false, media = false;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
        uint64_t size = BigEndian(bytes, at, 4);
        const std::string type = bytes.substr(at + 4, 4);
        if (size == 1 && at + 16 <= bytes.size()) size = BigEndian(bytes, at + 8, 8);
        if (size < 8 || at + size > bytes.size()) return false;
        index |= type == "moov";
        media |= type == "mdat";
        at += size;
    }
    return at == bytes.size() && index && media;
}

struct FolderState {
    std::vector<std::string> outputs;    // under their own names
    std::vector<std::string> temporary;  // hidden, unfinished
};

FolderState Look(const std::string& folder) {
    FolderState state;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        (IsPartialName(name) ? state.temporary : state.outputs).push_back(entry.path().string());
    }
    std::sort(state.outputs.begin(), state.outputs.end());
    return state;
}

// 200 s of the fixture (12 MB), made once per build folder: long enough for
// a kill to land in the middle of the writing.
std::string LongInput() {
    const std::string folder = std::string(KX_BUILD_DIR) + "/test_output/cli";
    const std::string path = folder + "/long200s.mp4";
    if (!fs::exists(path)) {
        fs::create_directories(folder);
        const std::string made = path + ".making";
        RunCommand("ffmpeg -nostdin -y -v error -stream_loop 19 -i " + Quote(Fixture("h264_aac.mp4")) +
                   " -c copy -f mp4 " + Quote(made));
        fs::rename(made, path);
    }
    return path;
}

}  // namespace

TEST_F(CliOutputs, AnExistingOutputIsReplacedOnlyWithOverwrite) {
    REQUIRE_MEDIA();
    const std::string input = Quote(Fixture("h264_aac.mp4"));
    fs::create_directories(Dir("clips"));
    struct Case {
        std::string arguments;
        std::string taken;  // an output's name, holding a file of the user's
    };
    const Case cases[] = {
        {"split " + input + " -o " + Dir("clips") + " --at 3,6", Dir("clips/h264_aac_0_002.mp4")},
        {"merge " + input + " " + input + " -o " + Dir("merged.mp4"), Dir("merged.mp4")},
        {"mix " + Quote(Fixture("video_only.mp4")) + " " + Quote(Fixture("audio_only.m4a")) + " -o " + Dir("mixed.mp4"),
         Dir("mixed.mp4")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::ofstream(c.taken) << "mine";
        ExpectOneMessage(Remuxion(c.arguments + " -q"), 1,
                         "the output " + c.taken + " already exists (--overwrite replaces it)");
        EXPECT_EQ(ReadAll(c.taken), "mine");
        const std::string folder = fs::path(c.taken).parent_path().string();
        EXPECT_TRUE(Look(folder).temporary.empty());
        if (folder == Dir("clips")) {
            EXPECT_EQ(Look(folder).outputs.size(), 1u) << "no clip was written";
        }

        const Outcome replaced = Remuxion(c.arguments + " -q -y");
        ASSERT_EQ(replaced.status, 0) << replaced.err;
        EXPECT_TRUE(WholeMp4(c.taken));
        EXPECT_TRUE(Look(folder).temporary.empty());
    }
}

TEST_F(CliOutputs, StoppedRunsLeaveNoPartialFileUnderAnOutputsName) {
    REQUIRE_MEDIA();
    // kill -9 at a few points, then Ctrl-C: what holds an output's name is
    // whole; kill -9 may leave hidden temporary files, which the next run
    // neither reads nor lists; Ctrl-C leaves none.
    const std::string input = Quote(LongInput());
    int cutShort = 0;
    for (const bool merge : {false, true}) {
        const std::string folder = Dir(merge ? "merge" : "split");
        fs::create_directories(folder);
        const std::string command = merge ? "merge " + input + " " + input + " -o " + folder + "/merged.mp4"
                                          : "split " + input + " -o " + folder + " --every 20";
        for (const char* delay : {"0.02", "0.06", "0.12"}) {
            SCOPED_TRACE(command + ", kill -9 after " + delay + " s");
            RunCommand("(" + Program() + " " + command + " -q -y >/dev/null 2>&1 & pid=$!; sleep " + delay +
                       "; kill -9 $pid; wait $pid) >/dev/null 2>&1");
            const FolderState left = Look(folder);
            for (const auto& output : left.outputs) {
                EXPECT_TRUE(WholeMp4(output)) << output;
            }
            cutShort += !left.temporary.empty();
        }
        const FolderState killed = Look(folder);
        const Outcome again = Remuxion(command + " -q -y");
        ASSERT_EQ(again.status, 0) << again.err;
        const FolderState after = Look(folder);
        EXPECT_EQ(Lines(again.out), after.outputs) << "every output listed, nothing else";
        for (const auto& output : after.outputs) {
            EXPECT_TRUE(WholeMp4(output)) << output;
        }
        EXPECT_EQ(after.temporary.size(), killed.temporary.size()) << "left alone";

        for (const auto& temporary : after.temporary) fs::remove(temporary);
        const std::string interrupted = Dir(merge ? "merge_int" : "split_int");
        fs::create_directories(interrupted);
        const std::string status = RunCommand(
            "(" + Program() + " " + (merge ? "merge " + input + " " + input + " -o " + interrupted + "/merged.mp4"
                                           : "split " + input + " -o " + interrupted + " --every 20") +
            " -q >/dev/null 2>&1 & pid=$!; sleep 0.08; kill -INT $pid; wait $pid; echo $?) 2>/dev/null");
        const FolderState stopped = Look(interrupted);
        EXPECT_TRUE(stopped.temporary.empty());
        if (std::atoi(status.c_str()) == 130 && merge) {
            EXPECT_TRUE(stopped.outputs.empty());
        }
        for (const auto& output : stopped.outputs) {
            EXPECT_TRUE(WholeMp4(output)) << output;
        }
    }
    std::cout << cutShort << " of 6 kills left a temporary file\n";
}

TEST_F(CliOutputs, TwoSplitsIntoOneFolderNeverMixTheirClips) {
    REQUIRE_MEDIA();
    // Two inputs of one name split into one folder at once: their clips have
    // the same names. One split writes all of its clips; the other stops at
    // the first name taken, and no clip holds parts of both.
    fs::create_directories(Dir("cam1"));
    fs::create_directories(Dir("cam2"));
    fs::copy_file(Fixture("h264_aac.mp4"), Dir("cam1/clip.mp4"));
    fs::copy_file(Fixture("h264_aac_lowrate.mp4"), Dir("cam2/clip.mp4"));
    auto command = [&](int cam) {
        const std::string tag = std::to_string(cam);
        return Program() + " split " + Dir("cam" + tag + "/clip.mp4") + " -o " + Dir("out") + " --at 2,4 -q >" +
               Dir("out" + tag) + " 2>" + Dir("err" + tag) + "; echo $? >" + Dir("status" + tag);
    };
    RunCommand("(" + command(1) + ") & (" + command(2) + ") & wait");
    const int status[2] = {std::atoi(ReadAll(Dir("status1")).c_str()), std::atoi(ReadAll(Dir("status2")).c_str())};
    ASSERT_EQ(status[0] + status[1], 1) << ReadAll(Dir("err1")) << ReadAll(Dir("err2"));
    const int winner = status[0] == 0 ? 1 : 2;
    const int loser = 3 - winner;
    EXPECT_NE(ReadAll(Dir("err" + std::to_string(loser))).find("already exists"), std::string::npos)
        << ReadAll(Dir("err" + std::to_string(loser)));
    const FolderState left = Look(Dir("out"));
    EXPECT_TRUE(left.temporary.empty());
    EXPECT_EQ(Lines(ReadAll(Dir("out" + std::to_string(winner)))), left.outputs);

    // The same split alone writes the same bytes.
    const Outcome alone =
        Remuxion("split " + Dir("cam" + std::to_string(winner) + "/clip.mp4") + " -o " + Dir("alone") + " --at 2,4 -q");
    ASSERT_EQ(alone.status, 0) << alone.err;
    const std::vector<std::string> reference = Lines(alone.out);
    ASSERT_EQ(reference.size(), left.outputs.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(ReadAll(left.outputs[i]), ReadAll(reference[i])) << i;
    }
}

TEST_F(CliOutputs, QuietListsOneEscapedNamePerLineAndAFailedListingFails) {
    REQUIRE_MEDIA();
    const std::string input = Dir("two\nlines\tand a tab.mp4");
    fs::copy_file(Fixture("h264_aac.mp4"), input);
    const std::string split = "split " + Quote(input) + " -o " + Dir("out") + " --at 5 -q";
    const Outcome run = Remuxion(split);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string listed = Dir("out") + "/two\\nlines\\tand a tab_0_00";
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{listed + "0.mp4", listed + "1.mp4"}));
    const Outcome merged = Remuxion("merge " + Quote(input) + " -o " + Quote(Dir("back\\slash\n.mp4")) + " -q");
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(Lines(merged.out), std::vector<std::string>{Dir("back\\\\slash\\n.mp4")});

    ExpectOneMessage(Remuxion(split + " -y >/dev/full"), 1, "cannot write the standard output: No space left on device");
}

TEST_F(CliOutputs, AFailedSizeSplitLeavesNoPiece) {
    REQUIRE_MEDIA();
    // The first piece is written before the size turns out too small.
    ExpectOneMessage(Remuxion("split " + Quote(Fixture("h264_aac.mp4")) + " -o " + Dir("pieces") + " --size 20k -q"), 1,
                     "is too small");
    EXPECT_TRUE(FilesIn(Dir("pieces")).empty());
}
