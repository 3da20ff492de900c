#include "platform/KX_Log.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>

#include "KX_Remuxion.h"
#include "platform/WideString.h"

namespace {

std::mutex g_sinkMutex;
KX_LogSink g_sink = nullptr;
void* g_sinkContext = nullptr;

void Emit(const std::u16string& line) {
    KX_LogSink sink;
    void* context;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        sink = g_sink;
        context = g_sinkContext;
    }
    if (sink) {
        sink(context, line.c_str());
        return;
    }
    std::string utf8 = kx::WideToUtf8(line);
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

void AppendAscii(std::u16string& out, const char* text) {
    while (*text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text++)));
}

}  // namespace

extern "C" KX_EXPORT void KX_SetLogSink(KX_LogSink sink, void* context) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = sink;
    g_sinkContext = context;
}

void LogText(const char16_t* text) {
    if (!text) return;
    Emit(std::u16string(text));
}

namespace {

std::u16string FormatWithArgs(const char16_t* format, va_list args) {
    std::u16string out;
    if (!format) return out;
    char number[64];
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        const char16_t* conversion = p + 1;
        if (*conversion == u'%') {
            out.push_back(u'%');
            p = conversion;
            continue;
        }
        // Flags and width, e.g. "%03d".
        std::string flags;
        while (*conversion == u'0' || *conversion == u'-' || (*conversion >= u'1' && *conversion <= u'9'))
            flags.push_back(static_cast<char>(*conversion++));
        bool wide64 = false;
        if (conversion[0] == u'I' && conversion[1] == u'6' && conversion[2] == u'4') {
            wide64 = true;
            conversion += 3;
        } else if (conversion[0] == u'l' && conversion[1] == u'l') {
            wide64 = true;
            conversion += 2;
        } else if (conversion[0] == u'l') {
            conversion += 1;  // %ls, %ld: wide string / long
            if (*conversion == u'd' || *conversion == u'u' || *conversion == u'x') wide64 = true;
        }
        std::string fmt = "%" + flags;
        switch (*conversion) {
        case u'd':
            if (wide64) {
                fmt += PRId64;
                std::snprintf(number, sizeof number, fmt.c_str(), va_arg(args, int64_t));
            } else {
                fmt += "d";
                std::snprintf(number, sizeof number, fmt.c_str(), va_arg(args, int32_t));
            }
            AppendAscii(out, number);
            break;
        case u'u':
        case u'x':
            if (wide64) {
                fmt += (*conversion == u'u') ? PRIu64 : PRIx64;
                std::snprintf(number, sizeof number, fmt.c_str(), va_arg(args, uint64_t));
            } else {
                fmt += (*conversion == u'u') ? "u" : "x";
                std::snprintf(number, sizeof number, fmt.c_str(), va_arg(args, uint32_t));
            }
            AppendAscii(out, number);
            break;
        case u's': {
            const char16_t* s = va_arg(args, const char16_t*);
            if (s)
                out.append(s);
            else
                out.append(u"(null)");
            break;
        }
        case u'S': {
            const char* s = va_arg(args, const char*);
            out.append(s ? kx::Utf8ToWide(std::string(s)) : std::u16string(u"(null)"));
            break;
        }
        case 0:
            --conversion;  // a lone '%' at the end
            out.push_back(u'%');
            break;
        default:
            // Unknown conversion: copy it as text.
            out.append(p, conversion + 1);
            break;
        }
        p = conversion;
    }
    return out;
}

}  // namespace

std::u16string FormatLogLine(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string line = FormatWithArgs(format, args);
    va_end(args);
    return line;
}

void LogFormat(const char16_t* format, ...) {
    if (!format) return;
    va_list args;
    va_start(args, format);
    std::u16string line = FormatWithArgs(format, args);
    va_end(args);
    Emit(line);
}

void GetBaseDirectory(char16_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return;
    Dl_info info{};
    std::string dir = ".";
    if (dladdr(reinterpret_cast<void*>(&GetBaseDirectory), &info) && info.dli_fname) {
        // An absolute path, even when the module was loaded by a relative name.
        char resolved[PATH_MAX];
        std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            dir = ".";
        else if (slash == 0)
            dir = "/";
        else
            dir = path.substr(0, slash);
    }
    kx::WideCopy(buffer, capacity, kx::Utf8ToWide(dir).c_str());
}
