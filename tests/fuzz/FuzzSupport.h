// Shared by the fuzz targets: quiet logs and scratch files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "KX_Remuxion.h"

namespace kxfuzz {

// Log lines are dropped: a fuzz run would otherwise print millions of them.
// KX_FUZZ_LOG=1 keeps them, to see what one input does.
inline bool Verbose() {
    static const bool verbose = [] {
        const char* keep = std::getenv("KX_FUZZ_LOG");
        return keep && std::string(keep) == "1";
    }();
    return verbose;
}
inline void DropLogLine(void*, const OLECHAR*) {}
inline void QuietLogs() {
    if (!Verbose()) KX_SetLogSink(&DropLogLine, nullptr);
}

// A folder of this process's own, made once: in memory (/dev/shm) where there
// is one, since rewriting a file on disk for every input is slow; else under
// TMPDIR or /tmp.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string root = base && *base ? base : "/tmp";
        if (access("/dev/shm", W_OK) == 0) root = "/dev/shm";
        std::string pattern = root + "/kx_fuzz_XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    static const bool cleanup = [] { return std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(ScratchFolder(), ignored);
    }) == 0; }();
    (void)cleanup;
    return folder;
}

// Writes the bytes to a file in the scratch folder; false when that fails.
inline bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// Aborts with a message: libFuzzer keeps the input that broke a property.
[[noreturn]] inline void PropertyFailed(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

}  // namespace kxfuzz

#define KX_FUZZ_CHECK(condition) \
    do {                         \
        if (!(condition)) kxfuzz::PropertyFailed(#condition); \
    } while (0)
