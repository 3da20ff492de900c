// The remuxion program and its inputs: an input cut short fails split, merge
// and mix (its outputs removed) unless --allow-truncated; names in another
// encoding than UTF-8 work; a name too long says so; "--" ends the options.
#include <gtest/gtest.h>
#include <filesystem>
#include <string>

#include "CliSupport.h"

namespace {

namespace fs = std::filesystem;
using kxclitest::Outcome;
using kxclitest::Quote;
using kxclitest::Remuxion;

struct TruncatedCase {
    const char* name;
    const char* arguments;  // CUT is the cut input, FULL a complete one
    bool allow;
};

class TruncatedInput : public ::testing::TestWithParam<TruncatedCase> {};

TEST_P(TruncatedInput, FailsUnlessAllowed) {
    const TruncatedCase c = GetParam();
    const std::string folder = kxtest::TempFolder(std::string("cli_truncated_") + c.name);
    const std::string source = kxtest::Fixture("h264_aac.mp4");
    kxtest::CopyHead(source, folder + "/cut.mp4", fs::file_size(source) / 2);
    fs::copy_file(source, folder + "/full.mp4");
    fs::create_directories(folder + "/out");
    std::string arguments = c.arguments;
    arguments.replace(arguments.find("CUT"), 3, "cut.mp4");
    if (size_t at = arguments.find("FULL"); at != std::string::npos) arguments.replace(at, 4, "full.mp4");
    if (c.allow) arguments += " --allow-truncated";

    const Outcome outcome = Remuxion(arguments, folder);
    EXPECT_NE(outcome.err.find("cut.mp4 ended early, at "), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(" s of 10.000 s"), std::string::npos) << outcome.err;
    const size_t outputs = kxtest::FilesUnder(folder + "/out").size();
    if (c.allow) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_NE(outcome.err.find("warning"), std::string::npos);
        EXPECT_GT(outputs, 0u);
    } else {
        EXPECT_EQ(outcome.status, 1) << outcome.err;
        EXPECT_EQ(outputs, 0u) << "the outputs of a cut input are not kept";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TruncatedInput,
    ::testing::Values(TruncatedCase{"split", "split CUT -o out --every 3", false},
                      TruncatedCase{"split_allowed", "split CUT -o out --every 3", true},
                      TruncatedCase{"merge", "merge FULL CUT -o out/m.mp4", false},
                      TruncatedCase{"merge_allowed", "merge FULL CUT -o out/m.mp4", true},
                      TruncatedCase{"mix", "mix FULL CUT --stream 1 -o out/x.mp4", false},
                      TruncatedCase{"mix_allowed", "mix FULL CUT --stream 1 -o out/x.mp4", true}),
    [](const ::testing::TestParamInfo<TruncatedCase>& info) { return std::string(info.param.name); });

struct NameCase {
    const char* name;
    std::string file;       // the input's name, copied from h264_aac.mp4
    const char* arguments;  // FILE is the quoted name
    int status;
    std::string said;       // part of standard output or error
};

class InputNameCli : public ::testing::TestWithParam<NameCase> {};

TEST_P(InputNameCli, IsReadOrRefusedWithItsReason) {
    const NameCase c = GetParam();
    const std::string folder = kxtest::TempFolder(std::string("cli_names_") + c.name);
    fs::create_directories(folder + "/out");
    fs::create_directories(fs::path(folder + "/" + c.file).parent_path());
    fs::copy_file(kxtest::Fixture("h264_aac.mp4"), folder + "/" + c.file);
    std::string arguments = c.arguments;
    for (size_t at; (at = arguments.find("FILE")) != std::string::npos;) arguments.replace(at, 4, Quote(c.file));

    const Outcome outcome = Remuxion(arguments, folder);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE((outcome.out + outcome.err).find(c.said), std::string::npos) << outcome.out << outcome.err;
}

const std::string kLatin1 = "caf\xE9";  // "café" in ISO 8859-1: not UTF-8
const std::string kDeep = std::string(250, 'd') + "/" + std::string(250, 'e') + "/" + std::string(250, 'f') + "/" +
                          std::string(250, 'g') + "/" + std::string(250, 'h') + "/x.mp4";

INSTANTIATE_TEST_SUITE_P(
    Names, InputNameCli,
    ::testing::Values(NameCase{"latin1_info", kLatin1 + ".mp4", "info FILE", 0, kLatin1 + ".mp4"},
                      NameCase{"latin1_split", kLatin1 + ".mp4", "split FILE -o out --every 5", 0,
                               "out/" + kLatin1 + "_0_001.mp4"},
                      // Outside the basic plane: two UTF-16 units each way.
                      NameCase{"emoji_split", "\xF0\x9F\x98\x80 clip.mp4", "split FILE -o out --every 5", 0,
                               "out/\xF0\x9F\x98\x80 clip_0_001.mp4"},
                      NameCase{"too_long", kDeep, "info FILE", 1, "bytes can be opened"},
                      NameCase{"dash_info", "-dash.mp4", "info -- FILE", 0, "duration 00:10.000"},
                      NameCase{"dash_split", "-dash.mp4", "split -o out --every 5 -- FILE", 0, "-dash_0_001.mp4"},
                      NameCase{"dash_merge", "-dash.mp4", "merge -o out/m.mp4 -- FILE FILE", 0, "out/m.mp4"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

}  // namespace
