// The remuxion program, run as a user runs it; ffprobe judges what it writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace kxclitest;
using kxtest::Fixture;
using kxtest::RunCommand;
using Cli = CliFolder;

// ---- arguments: refused before any file is read ----

TEST_F(Cli, BadArgumentsGiveOneMessageAndStatusTwo) {
    std::string in = Quote(Fixture("h264_aac.mp4"));
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir() + " --at 3 --bogus"), 2, "unknown option '--bogus'");
    ExpectOneMessage(Remuxion("frobnicate " + in), 2, "unknown command 'frobnicate'");
    ExpectOneMessage(Remuxion("split " + in + " --at 3"), 2, "-o DIR");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir()), 2, "one of --at, --every, --size or --clip");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir() + " --at 3 --every 2"), 2, "only one of");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir() + " --at 5,3"), 2, "must rise");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir() + " --size 12q"), 2, "bad size '12q'");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir() + " --ext '.m/v' --at 3"), 2, "bad extension");
    ExpectOneMessage(Remuxion("merge " + in + " -o " + Dir("joined")), 2, "needs an extension");
    ExpectOneMessage(Remuxion("mix --stream 0 " + in + " -o " + Dir("x.mp4")), 2, "--stream N comes after the FILE");
    ExpectOneMessage(Remuxion("keyframes " + in + " " + in), 2, "keyframes takes one FILE");
    Outcome bare = Remuxion("");
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("usage: remuxion"), std::string::npos);
}

TEST_F(Cli, BadTimesNameTheTextAndTheForm) {
    std::string split = "split " + Quote(Fixture("h264_aac.mp4")) + " -o " + Dir();
    for (const char* bad : {"1:2:3:4", "1:70", "-5", "abc", "1.2.3", "3,", "00:00:01.12345678"})
        ExpectOneMessage(Remuxion(split + " --at " + Quote(bad)), 2, "bad time '");
    ExpectOneMessage(Remuxion(split + " --every 1:xx"), 2, "bad time '1:xx' for --every");
    ExpectOneMessage(Remuxion(split + " --clip 5"), 2, "write START+LENGTH");
    ExpectOneMessage(Remuxion(split + " --clip 5+0"), 2, "length must be above zero");
    EXPECT_FALSE(fs::exists(Dir("h264_aac_0_000.mp4")));
}

TEST_F(Cli, MissingAndUnreadableInputs) {
    ExpectOneMessage(Remuxion("info " + Dir("absent.mp4")), 1, "no such file: " + Dir("absent.mp4"));
    ExpectOneMessage(Remuxion("split " + Dir() + " -o " + Dir("out") + " --at 3"), 1, "is a folder");
    ExpectOneMessage(Remuxion("info " + Quote(Fixture("garbage.bin"))), 1, "not a media file");
    ExpectOneMessage(Remuxion("merge " + Quote(Fixture("h264_aac.mp4")) + " " + Dir("absent.mp4") + " -o " +
                              Dir("m.mp4")),
                     1, "no such file");
}

// ---- commands on real media ----

TEST_F(Cli, InfoShowsStreamsAndMergeability) {
    REQUIRE_MEDIA();
    Outcome one = Remuxion("info " + Quote(Fixture("h264_aac.mp4")));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.out.find("stream #0  video  h264  320x240  25 fps"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("stream #1  audio  aac  48000 Hz  stereo"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("duration 00:10.000"), std::string::npos) << one.out;
    EXPECT_EQ(one.out.find("merge:"), std::string::npos);  // one file: nothing to merge

    Outcome programs = Remuxion("info " + Quote(Fixture("two_programs.ts")));
    EXPECT_NE(programs.out.find("program 2:"), std::string::npos) << programs.out;

    Outcome good = Remuxion("info " + Quote(Fixture("h264_aac.mp4")) + " " + Quote(Fixture("h264_aac_lowrate.mp4")));
    EXPECT_NE(good.out.find("merge: the files can be merged without re-encoding"), std::string::npos) << good.out;
    Outcome bad = Remuxion("info " + Quote(Fixture("h264_aac.mp4")) + " " + Quote(Fixture("h264_aac_mono44k.mp4")));
    EXPECT_NE(bad.out.find("cannot be merged"), std::string::npos) << bad.out;
    EXPECT_NE(bad.out.find("audio stream #1: 44100 Hz vs 48000 Hz, mono vs stereo"), std::string::npos) << bad.out;

    // Non-ASCII names pass through as UTF-8.
    Outcome accented = Remuxion("info " + Quote(Fixture("Fête_vidéo_ü.mp4")));
    EXPECT_EQ(accented.status, 0) << accented.err;
    EXPECT_NE(accented.out.find("Fête_vidéo_ü.mp4"), std::string::npos);
}

// Numbers the containers do not carry: the program lasts as long as the
// file, the file's bit rate is its size over its duration, stream bit rates
// are measured, a variable frame rate is called so.
TEST_F(Cli, InfoJsonNumbersWhereTheContainerIsSilent) {
    REQUIRE_MEDIA();
    struct Case {
        const char* name;
        const char* frameRateMode;
    };
    const std::vector<Case> cases = {
        {"h264_aac.mkv", "constant"}, {"h264_aac.ts", "constant"}, {"h264_aac.flv", "constant"},
        {"vfr_opus.mkv", "variable"}, {"vfr.mp4", "variable"},
    };
    const std::string script =
        "import json,sys; f=json.load(sys.stdin)['files'][0]; p=f['programs'][0]; v=p['streams'][0]; "
        "print(f['duration'], f['bitRate'], p['duration'], min(s['bitRate'] for s in p['streams']), v['frameRateMode'])";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = Quote(Fixture(c.name));
        auto ours = Lines(RunCommand(std::string(KX_BUILD_DIR) + "/remuxion info --json " + in + " | python3 -c " +
                                     Quote(script)));
        auto probe = Lines(RunCommand("ffprobe -v error -show_entries format=duration,size -of default=nw=1:nk=1 " + in));
        ASSERT_EQ(ours.size(), 1u);
        ASSERT_EQ(probe.size(), 2u);
        std::istringstream fields(ours[0]);
        double duration = 0, bitRate = 0, programDuration = 0, lowestStreamRate = 0;
        std::string mode;
        fields >> duration >> bitRate >> programDuration >> lowestStreamRate >> mode;
        const double seconds = std::atof(probe[0].c_str());
        const double fileRate = std::atof(probe[1].c_str()) * 8 / seconds;
        EXPECT_NEAR(duration, seconds, 0.001);
        EXPECT_NEAR(programDuration, seconds, 0.001);
        EXPECT_NEAR(bitRate, fileRate, fileRate * 0.01);
        EXPECT_GT(lowestStreamRate, 0);  // every stream has a bit rate
        EXPECT_EQ(mode, c.frameRateMode);
    }
    Outcome text = Remuxion("info " + Quote(Fixture("vfr_opus.mkv")));
    EXPECT_NE(text.out.find("320x240  variable frame rate"), std::string::npos) << text.out;
}

TEST_F(Cli, KeyFramesMatchFfprobe) {
    REQUIRE_MEDIA();
    std::string in = Fixture("h264_aac.mp4");
    std::vector<std::string> expected;
    for (const auto& packet : VideoPackets(in))
        if (packet.find(",K") != std::string::npos) expected.push_back(packet.substr(0, packet.find(',')));
    Outcome json = Remuxion("keyframes --json " + Quote(in));
    ASSERT_EQ(json.status, 0) << json.err;
    std::string times = RunCommand("printf '%s' " + Quote(json.out) +
                                   " | python3 -c 'import json,sys; [print(\"%.6f\" % k[\"time\"]) for k in "
                                   "json.load(sys.stdin)[\"keyFrames\"]]'");
    EXPECT_EQ(Lines(times), expected);
    Outcome text = Remuxion("keyframes " + Quote(in));
    EXPECT_NE(text.out.find("10 key frames"), std::string::npos) << text.out;

    ExpectOneMessage(Remuxion("keyframes " + Quote(Fixture("audio_only.m4a"))), 1, "has no video stream");
}

// Where the options cut; the clips' pictures themselves are judged by tests/corpus.
TEST_F(Cli, SplitOptionsCutWhereAsked) {
    REQUIRE_MEDIA();
    const std::string in = Quote(Fixture("h264_aac.mp4"));
    struct Case {
        const char* options;
        std::vector<double> seconds;  // of each clip
        const char* extension;
        bool onKeyFrames;
    };
    const Case cases[] = {
        {"--every 4 --ext mkv", {4.0, 4.0, 2.0}, ".mkv", true},
        {"--clip 1+3 --clip 0:06+2", {3.0, 2.0}, ".mp4", true},
        {"--at 2.4 --any-frame", {2.4, 7.6}, ".mp4", false},  // not moved to a key frame
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.options);
        const std::string folder = Dir(std::to_string(i));
        Outcome run = Remuxion("split " + in + " -o " + folder + " " + c.options);
        ASSERT_EQ(run.status, 0) << run.err;
        auto files = FilesIn(folder);
        ASSERT_EQ(files.size(), c.seconds.size());
        EXPECT_NE(run.out.find("wrote " + std::to_string(files.size()) + " files:"), std::string::npos) << run.out;
        for (size_t j = 0; j < files.size(); ++j) {
            EXPECT_NE(run.out.find(files[j]), std::string::npos) << run.out;
            EXPECT_EQ(fs::path(files[j]).extension(), c.extension);
            EXPECT_NEAR(Duration(files[j]), c.seconds[j], 0.1) << files[j];
            if (c.onKeyFrames) {
                EXPECT_NE(VideoPackets(files[j]).front().find(",K"), std::string::npos) << files[j];
            }
        }
    }
    EXPECT_NE(Probe(Dir("0/h264_aac_0_000.mkv"), "-show_entries format=format_name").find("matroska"),
              std::string::npos);
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir("c") + " --at 12"), 1, "beyond the end");
    ExpectOneMessage(Remuxion("split " + in + " -o " + Dir("c") + " --clip 11+2"), 1, "beyond the end");
}

TEST_F(Cli, SplitBySizeCoversTheFileWithoutGaps) {
    REQUIRE_MEDIA();
    const int64_t limit = 150 * 1024;
    Outcome run = Remuxion("split " + Quote(Fixture("h264_aac.mp4")) + " -o " + Dir() + " --size 150k -q");
    ASSERT_EQ(run.status, 0) << run.err;
    auto files = FilesIn(Dir());
    ASSERT_GE(files.size(), 4u);
    EXPECT_EQ(Lines(run.out), files);  // --quiet prints just the names
    double covered = 0;
    for (const auto& file : files) {
        // The packet that crosses the size is still written, plus the container's own bytes.
        EXPECT_LT(static_cast<int64_t>(fs::file_size(file)), limit + 40 * 1024) << file;
        EXPECT_EQ(VideoPackets(file).front(), "0.000000,K_") << file;
        covered += Duration(file);
    }
    EXPECT_GE(covered, 10.0);
}

TEST_F(Cli, InterruptKeepsOnlyCompleteClips) {
    REQUIRE_MEDIA();
    // Half an hour of media (the fixture 180 times over, copied), so that
    // the split is still running when Ctrl-C arrives: the first progress
    // line comes after a tenth of a second, and the copy runs at hundreds
    // of media minutes a second.
    std::string input = Dir("long.mp4");
    RunCommand("ffmpeg -nostdin -v error -stream_loop 179 -i " + Quote(Fixture("h264_aac.mp4")) + " -c copy " + input);
    ASSERT_TRUE(fs::exists(input));
    std::string err = Dir("err.txt"), out = Dir("out.txt");
    std::string script = "(" + std::string(KX_BUILD_DIR) + "/remuxion split " + input + " -o " + Dir("clips") +
                         " --every 120 >" + out + " 2>" + err + " & pid=$!; for i in $(seq 500); do grep -q 'split: ' " +
                         err + " && break; sleep 0.01; done; kill -INT $pid; wait $pid; echo $?)";
    int status = std::atoi(RunCommand(script).c_str());
    if (status == 0) GTEST_SKIP() << "the split ended before the interrupt reached it";
    ASSERT_EQ(status, 130) << ReadAll(err);
    EXPECT_NE(ReadAll(err).find("remuxion: interrupted"), std::string::npos) << ReadAll(err);
    std::string listing = ReadAll(out);
    EXPECT_NE(listing.find("interrupted; kept "), std::string::npos) << listing;
    size_t listed = 0;
    for (const auto& line : Lines(listing)) listed += line.rfind("  ", 0) == 0;
    auto files = FilesIn(Dir("clips"));
    EXPECT_EQ(files.size(), listed) << listing;  // every file left is listed; no header-only leftovers
    for (const auto& file : files) {  // each one readable to its end, with pictures in it
        std::string packets = Probe(file, "-select_streams v -count_packets -show_entries stream=nb_read_packets");
        EXPECT_GT(std::atoi(packets.c_str()), 0) << file << ": " << packets;
    }
}

// Joins and mixes themselves are judged by tests/corpus; here, what the program refuses.
TEST_F(Cli, MergeAndMixRefuseWhatTheyCannotJoin) {
    REQUIRE_MEDIA();
    const std::string a = Quote(Fixture("h264_aac.mp4"));
    ExpectOneMessage(Remuxion("merge " + a + " " + Quote(Fixture("h264_aac_mono44k.mp4")) + " -o " + Dir("no.mp4")),
                     1, "does not match " + Fixture("h264_aac.mp4") + ": audio stream #1: 44100 Hz vs 48000 Hz");
    EXPECT_FALSE(fs::exists(Dir("no.mp4")));
    ExpectOneMessage(Remuxion("merge " + a + " -o " + a), 1, "would overwrite the input");
    ExpectOneMessage(Remuxion("mix " + a + " --stream 7 -o " + Dir("x.mp4")), 1, "has no video or audio stream 7");
    ExpectOneMessage(Remuxion("mix " + Quote(Fixture("audio_only.m4a")) + " -o " + Dir("x.mp4")), 1,
                     "outputs need a video stream");

    // --stream picks the stream of each file.
    Outcome run = Remuxion("mix " + a + " --stream 0 " + Quote(Fixture("h264_aac_mono44k.mp4")) + " --stream 1 -o " +
                           Dir("mixed.mkv") + " -q");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(Probe(Dir("mixed.mkv"), "-show_entries stream=codec_name,channels")),
              (std::vector<std::string>{"h264", "aac,1"}));
}

TEST_F(Cli, UnsupportedCodecOrContainerIsNamed) {
    REQUIRE_MEDIA();
    ExpectOneMessage(Remuxion("split " + Quote(Fixture("mpeg1.mpg")) + " -o " + Dir() + " --at 2 --ext .flv"), 1,
                     "cannot copy the video stream #0 (mpeg1video) of " + Fixture("mpeg1.mpg") +
                         " into a .flv file: .flv files do not take mpeg1video");
    ExpectOneMessage(Remuxion("merge " + Quote(Fixture("h264_aac.mp4")) + " -o " + Dir("x.wmv")), 1,
                     "cannot write .wmv files");
    ExpectOneMessage(Remuxion("split " + Quote(Fixture("audio_only.m4a")) + " -o " + Dir() + " --at 2"), 1,
                     "no video stream");
    EXPECT_TRUE(FilesIn(Dir()).empty());  // nothing half-written is left behind
}

}  // namespace
