// Running the remuxion program as a user runs it, for the tests of the program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace kxclitest {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

using kxtest::Lines;
using kxtest::Quote;
using kxtest::ReadAll;

// The program's path.
std::string Program();

// Runs the program with the arguments (already quoted where needed), in
// `folder` when one is given.
Outcome Remuxion(const std::string& arguments, const std::string& folder = {});

// A failure: a non-zero status and exactly one line, the message.
void ExpectOneMessage(const Outcome& outcome, int status, const std::string& part);

// ffprobe's answer; its complaints about the file come along unless told not.
std::string Probe(const std::string& path, const std::string& what, bool withErrors = true);
double Duration(const std::string& path);
std::vector<std::string> VideoPackets(const std::string& path);

// Whether the component reads media yet; the run tests need it.
bool ComponentReadsMedia();

#define REQUIRE_MEDIA()                                                                                \
    if (!kxclitest::ComponentReadsMedia()) GTEST_SKIP() << "the component cannot read media files yet " \
                                                           "(demux, media information or engines missing)"

// A fresh folder per test, removed after it.
class CliFolder : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Dir(const std::string& name = {}) const { return name.empty() ? dir_ : dir_ + "/" + name; }
    // Every name in the folder (hidden ones too), sorted.
    std::vector<std::string> FilesIn(const std::string& dir) const;

    std::string dir_;
};

}  // namespace kxclitest
