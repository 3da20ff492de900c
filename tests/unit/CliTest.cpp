// The remuxion program, run as a user runs it; ffprobe judges what it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "CliSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace kxclitest;
using kxtest::FilesUnder;
using kxtest::Fixture;
using kxtest::RunCommand;
using Cli = CliFolder;

// Status 2 for what is wrong with the command line, 1 for what is wrong with
// the files; either way one line with the reason, and nothing written.
TEST_F(Cli, RefusalsAreOneLineWithTheReason) {
    const std::string in = Quote(Fixture("h264_aac.mp4")), audio = Quote(Fixture("audio_only.m4a"));
    const std::string split = "split " + in + " -o " + Dir();
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    std::vector<Case> cases = {
        {split + " --at 3 --bogus", 2, "unknown option '--bogus'"},
        {"frobnicate " + in, 2, "unknown command 'frobnicate'"},
        {"split " + in + " --at 3", 2, "-o DIR"},
        {split, 2, "one of --at, --every, --size or --clip"},
        {split + " --at 3 --every 2", 2, "only one of"},
        {split + " --at 5,3", 2, "must rise"},
        {split + " --ext '.m/v' --at 3", 2, "bad extension"},
        {"merge " + in + " -o " + Dir("joined"), 2, "needs an extension"},
        {"mix --stream 0 " + in + " -o " + Dir("x.mp4"), 2, "--stream N comes after the FILE"},
        {"keyframes " + in + " " + in, 2, "keyframes takes one FILE"},
        {split + " --every 1:xx", 2, "bad time '1:xx' for --every"},
        {split + " --clip 5", 2, "write START+LENGTH"},
        {split + " --clip 5+0", 2, "length must be above zero"},
        {"info " + Dir("absent.mp4"), 1, "no such file: " + Dir("absent.mp4")},
        {"split " + Dir() + " -o " + Dir("out") + " --at 3", 1, "is a folder"},
        {"info " + Quote(Fixture("garbage.bin")), 1, "not a media file"},
        {"merge " + in + " " + Dir("absent.mp4") + " -o " + Dir("m.mp4"), 1, "no such file"},
        {"keyframes " + audio, 1, "has no video stream"},
        {split + " --at 12", 1, "beyond the end"},
        {split + " --clip 11+2", 1, "beyond the end"},
        {"merge " + in + " " + Quote(Fixture("h264_aac_mono44k.mp4")) + " -o " + Dir("no.mp4"), 1,
         "does not match " + Fixture("h264_aac.mp4") + ": audio stream #1: 44100 Hz vs 48000 Hz"},
        {"mix " + in + " --stream 7 -o " + Dir("x.mp4"), 1, "has no video or audio stream 7"},
        {"mix " + audio + " -o " + Dir("x.mp4"), 1, "outputs need a video stream"},
        {"split " + Quote(Fixture("mpeg1.mpg")) + " -o " + Dir() + " --at 2 --ext .flv", 1,
         "cannot copy video #0 (mpeg1video) of " + Fixture("mpeg1.mpg") + " into .flv files; "},
        {"merge " + in + " -o " + Dir("x.wmv"), 1,
         "cannot copy video #0 (h264) of " + Fixture("h264_aac.mp4") + " into .wmv files; .mp4"},
        {split + " --at 3 --streams 0,7", 1, "has no stream 7"},
        {split + " --at 3 --streams 0 --audio-only", 2, "give only one of --streams, --audio-only and --video-only"},
    };
    for (const char* bad : {"1:2:3:4", "1:70", "1:60:00", "-5", "+3", "1e3", "abc", "1.2.3", "3,", ":30", "1:",
                            "1:30.", " 5", "00:00:01.12345678", "99999999999"})
        cases.push_back({split + " --at " + Quote(bad), 2, "bad time '"});
    for (const char* bad : {"12q", "0", "-5", "5.5", "k", "1.2.3M", "M5"})
        cases.push_back({split + " --size " + Quote(bad), 2, "bad size '" + std::string(bad) + "'"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        ExpectOneMessage(Remuxion(c.arguments), c.status, c.message);
    }
    EXPECT_EQ(FilesUnder(Dir()), std::vector<std::string>{});
    const Outcome bare = Remuxion("");
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("usage: remuxion"), std::string::npos);
}

TEST_F(Cli, InfoShowsStreamsAndMergeability) {
    const std::string in = Quote(Fixture("h264_aac.mp4"));
    const Outcome one = Remuxion("info " + in);
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char* shown : {"stream #0  video  h264  320x240  25 fps", "stream #1  audio  aac  48000 Hz  stereo",
                              "duration 00:10.000"})
        EXPECT_NE(one.out.find(shown), std::string::npos) << one.out;
    EXPECT_EQ(one.out.find("merge:"), std::string::npos);  // one file: nothing to merge
    EXPECT_NE(Remuxion("info " + Quote(Fixture("two_programs.ts"))).out.find("program 2:"), std::string::npos);
    EXPECT_NE(Remuxion("info " + in + " " + Quote(Fixture("h264_aac_lowrate.mp4")))
                  .out.find("merge: the files can be merged"),
              std::string::npos);
    const Outcome bad = Remuxion("info " + in + " " + Quote(Fixture("h264_aac_mono44k.mp4")));
    EXPECT_NE(bad.out.find("audio stream #1: 44100 Hz vs 48000 Hz, mono vs stereo"), std::string::npos) << bad.out;
    // Non-ASCII names pass through as UTF-8.
    const Outcome accented = Remuxion("info " + Quote(Fixture("Fête_vidéo_ü.mp4")));
    EXPECT_EQ(accented.status, 0) << accented.err;
    EXPECT_NE(accented.out.find("Fête_vidéo_ü.mp4"), std::string::npos);
}

// Numbers the containers do not carry: the program lasts as long as the
// file, the file's bit rate is its size over its duration, stream bit rates
// are measured, a variable frame rate is called so. The values themselves,
// for every container, are MediaInfoReader's.
TEST_F(Cli, InfoJsonNumbersWhereTheContainerIsSilent) {
    const std::string script =
        "import json,sys; f=json.load(sys.stdin)['files'][0]; p=f['programs'][0]; v=p['streams'][0]; "
        "print(f['duration'], f['bitRate'], p['duration'], min(s['bitRate'] for s in p['streams']), v['frameRateMode'])";
    for (const auto& [name, frameRateMode] : std::vector<std::pair<const char*, std::string>>{
             {"h264_aac.ts", "constant"}, {"vfr_opus.mkv", "variable"}}) {
        SCOPED_TRACE(name);
        const std::string in = Quote(Fixture(name));
        const auto ours = Lines(RunCommand(Program() + " info --json " + in + " | python3 -c " + Quote(script)));
        const auto probe =
            Lines(RunCommand("ffprobe -v error -show_entries format=duration,size -of default=nw=1:nk=1 " + in));
        ASSERT_EQ(ours.size(), 1u);
        ASSERT_EQ(probe.size(), 2u);
        std::istringstream fields(ours[0]);
        double duration = 0, bitRate = 0, programDuration = 0, lowestStreamRate = 0;
        std::string mode;
        fields >> duration >> bitRate >> programDuration >> lowestStreamRate >> mode;
        const double seconds = std::stod(probe[0]), fileRate = std::stod(probe[1]) * 8 / seconds;
        EXPECT_NEAR(duration, seconds, 0.001);
        EXPECT_NEAR(programDuration, seconds, 0.001);
        EXPECT_NEAR(bitRate, fileRate, fileRate * 0.01);
        EXPECT_GT(lowestStreamRate, 0);  // every stream has a bit rate
        EXPECT_EQ(mode, frameRateMode);
    }
    EXPECT_NE(Remuxion("info " + Quote(Fixture("vfr_opus.mkv"))).out.find("320x240  variable frame rate"),
              std::string::npos);
}

TEST_F(Cli, KeyFramesMatchFfprobe) {
    const std::string in = Fixture("h264_aac.mp4");
    std::vector<std::string> expected;
    for (const auto& packet : VideoPackets(in))
        if (packet.find(",K") != std::string::npos) expected.push_back(packet.substr(0, packet.find(',')));
    const Outcome json = Remuxion("keyframes --json " + Quote(in));
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string times = RunCommand("printf '%s' " + Quote(json.out) +
                                         " | python3 -c 'import json,sys; [print(\"%.6f\" % k[\"time\"]) for k in "
                                         "json.load(sys.stdin)[\"keyFrames\"]]'");
    EXPECT_EQ(Lines(times), expected);
    EXPECT_NE(Remuxion("keyframes " + Quote(in)).out.find("10 key frames"), std::string::npos);
}

// Where the options cut; the clips' pictures themselves are judged by tests/corpus.
TEST_F(Cli, SplitOptionsCutWhereAsked) {
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
        const Outcome run = Remuxion("split " + in + " -o " + folder + " " + c.options);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto files = FilesUnder(folder);
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
}

// Each piece ends at the first packet past the size, and the pieces cover the file.
TEST_F(Cli, SplitBySizeCoversTheFileWithoutGaps) {
    const int64_t limit = 150 * 1024;
    const Outcome run = Remuxion("split " + Quote(Fixture("h264_aac.mp4")) + " -o " + Dir() + " --size 150k -q");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto files = FilesUnder(Dir());
    ASSERT_GE(files.size(), 4u);
    EXPECT_EQ(Lines(run.out), files);  // --quiet prints just the names
    double covered = 0;
    for (const auto& file : files) {
        // A piece goes on to the next key frame (a second here, about 60 kB),
        // plus the container's own bytes.
        EXPECT_LT(static_cast<int64_t>(fs::file_size(file)), limit + 100 * 1024) << file;
        EXPECT_EQ(VideoPackets(file).front(), "0.000000,K_") << file;
        EXPECT_EQ(kxtest::DecodeErrors(file), "") << file;
        covered += Duration(file);
    }
    EXPECT_GE(covered, 10.0);
    EXPECT_LT(covered, 10.1);  // cut while copying: no piece repeats a group of pictures
}

TEST_F(Cli, MixTakesTheStreamPickedOfEachFile) {
    const Outcome run = Remuxion("mix " + Quote(Fixture("h264_aac.mp4")) + " --stream 0 " +
                                 Quote(Fixture("h264_aac_mono44k.mp4")) + " --stream 1 -o " + Dir("mixed.mkv") + " -q");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(Probe(Dir("mixed.mkv"), "-show_entries stream=codec_name,channels")),
              (std::vector<std::string>{"h264", "aac,1"}));
}

}  // namespace
