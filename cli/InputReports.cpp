#include "InputReports.h"

#include <cstdio>

#include "Console.h"
#include "TaskRunner.h"

namespace kxcli {

namespace {

const std::string kPrefix = "Remuxion Input::";

std::optional<std::string> ReportOf(const std::string& line) {
    if (line.rfind(kPrefix, 0) != 0) return std::nullopt;
    return line.substr(kPrefix.size());
}

}  // namespace

std::optional<std::string> LastInputReport(const std::vector<std::string>& lines) {
    std::optional<std::string> last;
    for (const auto& line : lines)
        if (auto report = ReportOf(line)) last = std::move(report);
    return last;
}

std::vector<std::string> EarlyEndReports(const std::vector<std::string>& lines) {
    std::vector<std::string> reports;
    for (const auto& line : lines)
        if (auto report = ReportOf(line); report && report->find(" ended early, at ") != std::string::npos)
            reports.push_back(std::move(*report));
    return reports;
}

void JudgeEarlyEnds(TaskResult& result, bool allowTruncated) {
    std::string reports;
    for (const auto& report : result.endedEarly) reports += (reports.empty() ? "" : "; ") + report;
    if (allowTruncated) {
        fprintf(Err(), "remuxion: warning: %s; the outputs hold what it had\n", reports.c_str());
        return;
    }
    for (const auto& path : result.outputs) std::remove(path.c_str());
    result.outputs.clear();
    Fail(reports + "; its outputs are not kept (--allow-truncated keeps them)");
}

}  // namespace kxcli
