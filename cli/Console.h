// The program's own output streams, the failure type, and the silencing of
// what the component prints on the process's standard streams.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace kxcli {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Ends the command with one message (caught in main).
class CliError : public std::runtime_error {
public:
    CliError(const std::string& message, int exitCode) : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};

[[noreturn]] void Fail(const std::string& message);
[[noreturn]] void UsageError(const std::string& message);

// Keeps private copies of standard output and error for the program, then
// points the process's descriptors 1 and 2 to nowhere: the media library
// prints diagnostics of its own there.
void SetUpConsole();

FILE* Out();
FILE* Err();
// Flushes Out(), keeping the first error.
void FlushOut();
// Flushes Out(); the first errno value with which writing it failed, or 0.
int OutError();
bool ErrIsTerminal();

}  // namespace kxcli
