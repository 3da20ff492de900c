#include "CliSupport.h"

#include <stdlib.h>
#include <unistd.h>

namespace kxclitest {

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

}  // namespace kxclitest
