// Progress of a running task: a live bar on a terminal, plain lines
// otherwise, nothing with --quiet. Drawn from the main thread only.
#pragma once

#include <chrono>
#include <string>

namespace kxcli {

class ProgressDisplay {
public:
    // mediaSeconds: the media time the whole task covers (for the speed);
    // showAfterSeconds: stay silent while the work is shorter than this.
    ProgressDisplay(std::string label, double mediaSeconds, bool quiet, double showAfterSeconds = 0);
    ~ProgressDisplay();

    void Update(int percent, const std::string& detail = {});
    // Ends the bar's line; a completed task shows 100 %.
    void Finish(bool completed);

private:
    using Clock = std::chrono::steady_clock;
    double Elapsed() const;
    std::string Speed(int percent) const;
    void DrawBar(int percent, const std::string& detail);
    void PrintLine(int percent);

    std::string label_;
    double mediaSeconds_;
    bool quiet_;
    bool terminal_;
    double showAfter_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    int lastLineStep_ = -1;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace kxcli
