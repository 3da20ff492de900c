#include "Progress.h"

#include <algorithm>
#include <cstdio>

#include "Console.h"

namespace kxcli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string FormatElapsed(double seconds) {
    int total = static_cast<int>(seconds);
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof text, "%d:%02d:%02d", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof text, "%02d:%02d", total / 60, total % 60);
    return text;
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::string label, double mediaSeconds, bool quiet, double showAfterSeconds)
    : label_(std::move(label)),
      mediaSeconds_(mediaSeconds),
      quiet_(quiet),
      terminal_(ErrIsTerminal()),
      showAfter_(showAfterSeconds),
      start_(Clock::now()) {}

ProgressDisplay::~ProgressDisplay() {
    if (!finished_) Finish(false);
}

double ProgressDisplay::Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

std::string ProgressDisplay::Speed(int percent) const {
    double elapsed = Elapsed();
    if (mediaSeconds_ <= 0 || elapsed < 0.2 || percent <= 0) return {};
    char text[32];
    snprintf(text, sizeof text, "%.1fx", mediaSeconds_ * std::min(percent, 100) / 100.0 / elapsed);
    return text;
}

void ProgressDisplay::Update(int percent, const std::string& detail) {
    if (quiet_ || finished_ || Elapsed() < showAfter_) return;
    percent = std::clamp(percent, 0, 100);
    if (terminal_) {
        auto now = Clock::now();
        // The elapsed time changes too, so redraw on a timer, not on change.
        if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
        DrawBar(percent, detail);
        lastDraw_ = now;
    } else {
        PrintLine(percent);
    }
}

void ProgressDisplay::DrawBar(int percent, const std::string& detail) {
    int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '-');
    std::string speed = Speed(percent);
    fprintf(Err(), "\r%s [%s] %3d%%  %s%s%s%s%s\x1b[K", label_.c_str(), bar.c_str(), percent,
            FormatElapsed(Elapsed()).c_str(), speed.empty() ? "" : "  ", speed.c_str(), detail.empty() ? "" : "  ",
            detail.c_str());
    fflush(Err());
    drawn_ = true;
}

// One line per tenth of the work, so that logs stay short.
void ProgressDisplay::PrintLine(int percent) {
    int step = percent / 10;
    if (step <= lastLineStep_) return;
    lastLineStep_ = step;
    std::string speed = Speed(percent);
    fprintf(Err(), "%s: %d%% (%s%s%s)\n", label_.c_str(), percent, FormatElapsed(Elapsed()).c_str(),
            speed.empty() ? "" : ", ", speed.c_str());
    fflush(Err());
    drawn_ = true;
}

void ProgressDisplay::Finish(bool completed) {
    if (finished_) return;
    if (!quiet_ && completed && (drawn_ || Elapsed() >= showAfter_)) {
        if (terminal_) {
            DrawBar(100, {});
        } else {
            PrintLine(100);
        }
    }
    if (terminal_ && drawn_) fputs("\n", Err());
    finished_ = true;
}

}  // namespace kxcli
