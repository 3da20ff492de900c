// The component's reports about inputs, read from its log: why a file could
// not be added, and which inputs of a task ended before their index or
// duration said (lines that start with "Remuxion Input::").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kxcli {

// The text of the last report among the lines, without the prefix.
std::optional<std::string> LastInputReport(const std::vector<std::string>& lines);

// Every "... ended early, at T s of D s: why" report among the lines.
std::vector<std::string> EarlyEndReports(const std::vector<std::string>& lines);

struct TaskResult;

// An input of the task ended early: without allowTruncated, deletes the
// task's outputs and fails naming the inputs and where they ended; with it,
// prints that as a warning and keeps the outputs.
void JudgeEarlyEnds(TaskResult& result, bool allowTruncated);

}  // namespace kxcli
