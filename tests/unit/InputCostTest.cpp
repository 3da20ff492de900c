// What two small hostile inputs cost the remuxion program, measured on the
// child process that reads them: an MKV of under 1 KB whose pictures claim
// 8192x8192, and an 8 MB transport stream of 990 H.264 streams. Unbounded,
// they take 0.7 and 3.7 GB. Processor time is asserted, not wall-clock time,
// so that a busy machine does not fail the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TaskTestSupport.h"

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A checked build's shadow memory and quarantine make resident sizes
// meaningless; its processor time is several times a release build's.
constexpr bool kMeasuresMemory = false;
constexpr double kCpuScale = 6;
#else
constexpr bool kMeasuresMemory = true;
constexpr double kCpuScale = 1;
#endif

constexpr long kMaxResidentKb = 256 * 1024;
constexpr double kMaxCpuSeconds = 5;

struct ChildCost {
    int status = -1;
    long residentKb = 0;
    double cpuSeconds = 0;
    std::string err;
};

// Runs the program with the arguments; what it prints is kept.
ChildCost RunMeasured(const std::vector<std::string>& arguments, const std::string& errPath) {
    std::vector<std::string> all = {std::string(KX_BUILD_DIR) + "/remuxion"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ChildCost cost;
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int none = open("/dev/null", O_RDWR);
        dup2(none, 0);
        dup2(err, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return cost;
    cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.residentKb = usage.ru_maxrss;
    cost.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.err = kxtest::ReadAll(errPath);
    return cost;
}

struct HostileCase {
    const char* name;
    const char* file;
    std::vector<std::string> command;  // before the file; "OUT" is the output folder
    int status;
    const char* said;  // part of what it prints
};

class HostileInput : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, CostsLittleAndSaysWhichBoundItHit) {
    const HostileCase c = GetParam();
    const std::string input = std::string(KX_BUILD_DIR) + "/hostile/" + c.file;
    ASSERT_TRUE(fs::exists(input)) << "made by tests/fixtures/make_hostile.py with the fixtures";
    const std::string folder = kxtest::TempFolder(std::string("hostile_") + c.name);
    std::vector<std::string> arguments;
    for (const auto& word : c.command) arguments.push_back(word == "OUT" ? folder + "/out" : word);
    arguments.insert(arguments.begin() + 1, input);
    fs::create_directories(folder + "/out");

    const ChildCost cost = RunMeasured(arguments, folder + "/err.txt");
    EXPECT_EQ(cost.status, c.status) << cost.err;
    EXPECT_NE(cost.err.find(c.said), std::string::npos) << cost.err;
    EXPECT_LT(cost.cpuSeconds, kMaxCpuSeconds * kCpuScale);
    if (kMeasuresMemory) {
        EXPECT_LT(cost.residentKb, kMaxResidentKb);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileInput,
    ::testing::Values(
        // The pictures are not decoded, so the file still opens and copies.
        HostileCase{"huge_picture_info", "huge_picture.mkv", {"info"}, 0, "8192x8192"},
        HostileCase{"huge_picture_split", "huge_picture.mkv", {"split", "-o", "OUT", "--every", "1"}, 0, "wrote 1 file"},
        HostileCase{"many_streams_info", "many_streams.ts", {"info"}, 1, "more than 100 streams"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
