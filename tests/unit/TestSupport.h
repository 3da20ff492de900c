// Shared helpers for the unit tests: fixture paths, log capture, converter creation.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "KX_Remuxion.h"

namespace kxtest {

std::string Fixture(const std::string& name);
std::u16string Wide(const std::string& utf8);
std::string Narrow(const std::u16string& wide);

// Captures log lines while alive (through the exported sink).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::u16string> Lines();
    bool Contains(const std::u16string& line);

private:
    static void Sink(void* context, const OLECHAR* line);
    std::mutex mutex_;
    std::vector<std::u16string> lines_;
};

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const std::u16string& text) : value_(SysAllocString(text.c_str())) {}
    explicit Bstr(const std::string& utf8) : Bstr(Wide(utf8)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value_; }

private:
    BSTR value_;
};

// A new converter through the class factory; released by the caller.
IStreamwright* CreateConverter();

// Runs a shell command, returns its standard output.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

}  // namespace kxtest
