// Running the remuxion program as a user runs it, for the tests of the program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TaskTestSupport.h"

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

// A fresh folder per test, named after it.
class CliFolder : public ::testing::Test {
protected:
    std::string Dir(const std::string& name = {}) const { return name.empty() ? dir_ : dir_ + "/" + name; }

    const std::string dir_ = kxtest::TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

}  // namespace kxclitest
