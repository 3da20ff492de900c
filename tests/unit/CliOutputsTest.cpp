// The remuxion program's outputs: a name never holds a partial file, an
// existing file is replaced only when asked, and a failure is one line with
// its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CliSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace kxclitest;
using kxtest::FilesUnder;
using kxtest::Fixture;
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
    for (const auto& path : FilesUnder(folder))
        (kxtest::IsPartialName(fs::path(path).filename().string()) ? state.temporary : state.outputs).push_back(path);
    return state;
}

// Runs the program in the background and sends it `signal` `delay` seconds
// after a new temporary file has appeared in `folder`; its exit status.
int SignalWhileWriting(const std::string& arguments, const std::string& folder, const char* signal, const char* delay) {
    const std::string before = std::to_string(Look(folder).temporary.size());
    return std::atoi(RunCommand("(" + Program() + " " + arguments + " & pid=$!; for i in $(seq 1000); do [ $(ls -A " +
                                folder + " | grep -c partial) -gt " + before + " ] && break; sleep 0.002; done; sleep " +
                                delay + "; kill -" + signal + " $pid; wait $pid; echo $?) 2>/dev/null")
                         .c_str());
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
    const std::string input = Quote(Fixture("h264_aac.mp4"));
    const std::pair<std::string, std::string> cases[] = {
        // The arguments, and an output's name holding a file of the user's.
        {"split " + input + " -o " + Dir("split") + " --at 3,6", Dir("split/h264_aac_0_002.mp4")},
        {"merge " + input + " " + input + " -o " + Dir("merge/merged.mp4"), Dir("merge/merged.mp4")},
        {"mix " + Quote(Fixture("video_only.mp4")) + " " + Quote(Fixture("audio_only.m4a")) + " -o " +
             Dir("mix/mixed.mp4"),
         Dir("mix/mixed.mp4")},
    };
    for (const auto& [arguments, taken] : cases) {
        SCOPED_TRACE(arguments);
        fs::create_directories(fs::path(taken).parent_path());
        std::ofstream(taken) << "mine";
        ExpectOneMessage(Remuxion(arguments + " -q"), 1,
                         "the output " + taken + " already exists (--overwrite replaces it)");
        EXPECT_EQ(ReadAll(taken), "mine");
        EXPECT_EQ(Look(fs::path(taken).parent_path()).outputs, std::vector<std::string>{taken})
            << "nothing was written";

        const Outcome replaced = Remuxion(arguments + " -q -y");
        ASSERT_EQ(replaced.status, 0) << replaced.err;
        EXPECT_TRUE(WholeMp4(taken));
        EXPECT_TRUE(Look(fs::path(taken).parent_path()).temporary.empty());
    }
}

TEST_F(CliOutputs, StoppedRunsLeaveNoPartialFileUnderAnOutputsName) {
    // kill -9 at a few points of the writing, then Ctrl-C: what holds an output's name is
    // whole; kill -9 may leave hidden temporary files, which the next run
    // neither reads nor lists; Ctrl-C leaves none and lists what it kept.
    const std::string input = Quote(LongInput());
    for (const bool merge : {false, true}) {
        auto command = [&](const std::string& folder) {
            fs::create_directories(folder);
            return merge ? "merge " + input + " " + input + " -o " + folder + "/merged.mp4"
                         : "split " + input + " -o " + folder + " --every 20";
        };
        const std::string folder = Dir(merge ? "merge" : "split");
        for (const char* delay : {"0", "0.02", "0.1"}) {
            SCOPED_TRACE(command(folder) + ", kill -9 " + delay + " s into the writing");
            SignalWhileWriting(command(folder) + " -q -y >/dev/null 2>&1", folder, "9", delay);
            const FolderState left = Look(folder);
            for (const auto& output : left.outputs) EXPECT_TRUE(WholeMp4(output)) << output;
        }
        const FolderState killed = Look(folder);
        const Outcome again = Remuxion(command(folder) + " -q -y");
        ASSERT_EQ(again.status, 0) << again.err;
        const FolderState after = Look(folder);
        EXPECT_EQ(Lines(again.out), after.outputs) << "every output listed, nothing else";
        for (const auto& output : after.outputs) EXPECT_TRUE(WholeMp4(output)) << output;
        EXPECT_EQ(after.temporary, killed.temporary) << "left alone";

        // Ctrl-C once the writing has begun.
        const std::string stopped = Dir(merge ? "merge_int" : "split_int");
        const std::string out = Dir("int.out"), err = Dir("int.err");
        const int status = SignalWhileWriting(command(stopped) + " -q >" + out + " 2>" + err, stopped, "INT", "0");
        const FolderState left = Look(stopped);
        EXPECT_TRUE(left.temporary.empty());
        for (const auto& output : left.outputs) EXPECT_TRUE(WholeMp4(output)) << output;
        EXPECT_EQ(Lines(ReadAll(out)), left.outputs) << "every file kept is listed, nothing else";
        if (status == 130) {
            EXPECT_NE(ReadAll(err).find("remuxion: interrupted"), std::string::npos) << ReadAll(err);
            if (merge) {
                EXPECT_TRUE(left.outputs.empty());
            }
        } else {
            EXPECT_EQ(status, 0) << ReadAll(err);
        }
    }
}

TEST_F(CliOutputs, TwoSplitsIntoOneFolderNeverMixTheirClips) {
    // Two inputs of one name split into one folder at once: their clips have
    // the same names. One split writes all of its clips; the other stops at
    // the first name taken, and no clip holds parts of both.
    for (const char* cam : {"cam1", "cam2"}) fs::create_directories(Dir(cam));
    fs::copy_file(Fixture("h264_aac.mp4"), Dir("cam1/clip.mp4"));
    fs::copy_file(Fixture("h264_aac_lowrate.mp4"), Dir("cam2/clip.mp4"));
    auto command = [&](const std::string& cam) {
        return Program() + " split " + Dir("cam" + cam + "/clip.mp4") + " -o " + Dir("out") + " --at 2,4 -q >" +
               Dir("out" + cam) + " 2>" + Dir("err" + cam) + "; echo $? >" + Dir("status" + cam);
    };
    RunCommand("(" + command("1") + ") & (" + command("2") + ") & wait");
    const int status[2] = {std::atoi(ReadAll(Dir("status1")).c_str()), std::atoi(ReadAll(Dir("status2")).c_str())};
    ASSERT_EQ(status[0] + status[1], 1) << ReadAll(Dir("err1")) << ReadAll(Dir("err2"));
    const std::string winner = status[0] == 0 ? "1" : "2", loser = status[0] == 0 ? "2" : "1";
    EXPECT_NE(ReadAll(Dir("err" + loser)).find("already exists"), std::string::npos) << ReadAll(Dir("err" + loser));
    const FolderState left = Look(Dir("out"));
    EXPECT_TRUE(left.temporary.empty());
    EXPECT_EQ(Lines(ReadAll(Dir("out" + winner))), left.outputs);

    // The same split alone writes the same bytes.
    const Outcome alone =
        Remuxion("split " + Dir("cam" + winner + "/clip.mp4") + " -o " + Dir("alone") + " --at 2,4 -q");
    ASSERT_EQ(alone.status, 0) << alone.err;
    const std::vector<std::string> reference = Lines(alone.out);
    ASSERT_EQ(reference.size(), left.outputs.size());
    for (size_t i = 0; i < reference.size(); ++i) EXPECT_EQ(ReadAll(left.outputs[i]), ReadAll(reference[i])) << i;
}

TEST_F(CliOutputs, QuietListsOneEscapedNamePerLineAndAFailedListingFails) {
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

