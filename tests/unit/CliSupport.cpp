#include "CliSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace kxclitest {

namespace fs = std::filesystem;
using kxtest::Fixture;
using kxtest::RunCommand;

std::string Program() { return std::string(KX_BUILD_DIR) + "/remuxion"; }

Outcome Remuxion(const std::string& arguments, const std::string& folder) {
    char errPath[] = "/tmp/remuxion-cli-err-XXXXXX";
    int fd = mkstemp(errPath);
    if (fd >= 0) close(fd);
    Outcome outcome;
    outcome.out = RunCommand((folder.empty() ? "" : "cd " + Quote(folder) + " && ") + Program() + " " + arguments +
                                 " 2>" + errPath + " </dev/null",
                             &outcome.status);
    outcome.err = ReadAll(errPath);
    unlink(errPath);
    return outcome;
}

void ExpectOneMessage(const Outcome& outcome, int status, const std::string& part) {
    EXPECT_EQ(outcome.status, status) << outcome.err;
    auto lines = Lines(outcome.err);
    ASSERT_EQ(lines.size(), 1u) << outcome.err;
    EXPECT_EQ(lines[0].rfind("remuxion: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(part), std::string::npos) << lines[0];
}

std::string Probe(const std::string& path, const std::string& what, bool withErrors) {
    return RunCommand("ffprobe -v error " + what + " -of csv=p=0 " + Quote(path) + (withErrors ? " 2>&1" : " 2>/dev/null"));
}

double Duration(const std::string& path) { return std::atof(Probe(path, "-show_entries format=duration").c_str()); }

std::vector<std::string> VideoPackets(const std::string& path) {
    return Lines(Probe(path, "-select_streams v -show_entries packet=pts_time,flags", false));
}

bool ComponentReadsMedia() {
    static const bool reads = Remuxion("info " + Quote(Fixture("h264_aac.mp4"))).status == 0;
    return reads;
}

void CliFolder::SetUp() {
    char dir[] = "/tmp/remuxion-cli-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
}

void CliFolder::TearDown() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::vector<std::string> CliFolder::FilesIn(const std::string& dir) const {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace kxclitest
