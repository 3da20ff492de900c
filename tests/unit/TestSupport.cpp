#include "TestSupport.h"

#include <array>
#include <cstdio>

#include "platform/WideString.h"

namespace kxtest {

std::string Fixture(const std::string& name) { return std::string(KX_FIXTURE_DIR) + "/" + name; }
std::u16string Wide(const std::string& utf8) { return kx::Utf8ToWide(utf8); }
std::string Narrow(const std::u16string& wide) { return kx::WideToUtf8(wide); }

LogCapture::LogCapture() { KX_SetLogSink(&LogCapture::Sink, this); }
LogCapture::~LogCapture() { KX_SetLogSink(nullptr, nullptr); }

void LogCapture::Sink(void* context, const OLECHAR* line) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.emplace_back(line);
}

std::vector<std::u16string> LogCapture::Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool LogCapture::Contains(const std::u16string& line) {
    for (const auto& l : Lines())
        if (l == line) return true;
    return false;
}

IStreamwright* CreateConverter() {
    IClassFactory* factory = nullptr;
    if (DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory)) != KX_S_OK)
        return nullptr;
    IStreamwright* converter = nullptr;
    factory->CreateInstance(nullptr, &IID_IStreamwright, reinterpret_cast<void**>(&converter));
    factory->Release();
    return converter;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode) *exitCode = -1;
        return output;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    int status = pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

}  // namespace kxtest
