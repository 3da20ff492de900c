#include "LibraryLog.h"

#include <deque>
#include <mutex>

#include "Component.h"
#include "Text.h"

namespace kxcli {

namespace {

constexpr size_t kKeptLines = 4000;

std::mutex g_mutex;
std::deque<std::string> g_lines;

// Called from any thread of the component.
void Sink(void*, const OLECHAR* line) {
    std::string text = WideToUtf8(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back(std::move(text));
    if (g_lines.size() > kKeptLines) g_lines.pop_front();
}

}  // namespace

void CaptureLibraryLog() { Component().setLogSink(&Sink, nullptr); }

std::vector<std::string> TakeLibraryLog() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> lines(g_lines.begin(), g_lines.end());
    g_lines.clear();
    return lines;
}

}  // namespace kxcli
