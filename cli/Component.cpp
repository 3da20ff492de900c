#include "Component.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "Console.h"
#include "Text.h"

namespace kxcli {

namespace {

constexpr const char* kLibraryName = "libKX_Remuxion.so";

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string text(path, static_cast<size_t>(n));
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

#ifndef KX_CLI_INSTALLED_LIBRARY_FOLDER
#define KX_CLI_INSTALLED_LIBRARY_FOLDER "../lib"
#endif

// Beside the program (the build folder), then where an install puts the
// library relative to the program, then the normal search.
void* OpenLibrary(std::string* tried) {
    std::string folder = ProgramFolder();
    if (!folder.empty()) {
        for (const std::string& candidate :
             {folder + "/" + kLibraryName, folder + "/" KX_CLI_INSTALLED_LIBRARY_FOLDER "/" + kLibraryName}) {
            if (access(candidate.c_str(), F_OK) != 0) continue;
            if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
            *tried += std::string(dlerror()) + "; ";
        }
    }
    if (void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL)) return handle;
    *tried += dlerror();
    return nullptr;
}

template <typename T>
void Bind(void* library, const char* name, T* slot, std::string* missing) {
    *slot = reinterpret_cast<T>(dlsym(library, name));
    if (!*slot) *missing += std::string(missing->empty() ? "" : ", ") + name;
}

ComponentExports LoadExports() {
    std::string tried;
    void* library = OpenLibrary(&tried);
    if (!library) Fail("cannot load " + std::string(kLibraryName) + " (looked beside the program, in " KX_CLI_INSTALLED_LIBRARY_FOLDER " from it, and on the library path): " + tried);
    ComponentExports exports;
    std::string missing;
    Bind(library, "DllGetClassObject", &exports.getClassObject, &missing);
    Bind(library, "SysAllocString", &exports.sysAllocString, &missing);
    Bind(library, "SysFreeString", &exports.sysFreeString, &missing);
    Bind(library, "SysStringLen", &exports.sysStringLen, &missing);
    Bind(library, "IsCodecSupport", &exports.isCodecSupport, &missing);
    Bind(library, "KX_SetLogSink", &exports.setLogSink, &missing);
    Bind(library, "KX_FreeKeyFrameList", &exports.freeKeyFrameList, &missing);
    Bind(library, "KX_SetOutputOptions", &exports.setOutputOptions, &missing);
    Bind(library, "KX_GetLastErrorText", &exports.getLastErrorText, &missing);
    Bind(library, "KX_IsOutputComplete", &exports.isOutputComplete, &missing);
    Bind(library, "KX_GetStreamCount", &exports.getStreamCount, &missing);
    Bind(library, "KX_GetStreamSummary", &exports.getStreamSummary, &missing);
    Bind(library, "KX_IsCodecAllowedIn", &exports.isCodecAllowedIn, &missing);
    Bind(library, "KX_SetInputOptions", &exports.setInputOptions, &missing);
    Bind(library, "KX_GetClipCutReport", &exports.getClipCutReport, &missing);
    Bind(library, "KX_GetClipCutReason", &exports.getClipCutReason, &missing);
    Bind(library, "KX_GetKeyFramesNear", &exports.getKeyFramesNear, &missing);
    if (!missing.empty()) Fail(std::string(kLibraryName) + " lacks the exported functions " + missing);
    // The library stays loaded for the life of the process.
    return exports;
}

}  // namespace

const ComponentExports& Component() {
    static const ComponentExports exports = LoadExports();
    return exports;
}

Bstr::Bstr(const std::string& utf8) : value_(Component().sysAllocString(Utf8ToWide(utf8).c_str())) {}
Bstr::~Bstr() { Component().sysFreeString(value_); }

std::string TakeBstr(BSTR text) {
    if (!text) return {};
    std::string utf8 = WideToUtf8(std::u16string(text, Component().sysStringLen(text)));
    Component().sysFreeString(text);
    return utf8;
}

Converter::Converter() {
    IClassFactory* factory = nullptr;
    HRESULT status = Component().getClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (status != KX_S_OK || !factory) Fail("the component offers no converter class (DllGetClassObject failed)");
    status = factory->CreateInstance(nullptr, &IID_IStreamwright, reinterpret_cast<void**>(&object_));
    factory->Release();
    if (status != KX_S_OK || !object_) Fail("the component could not create a converter");
}

Converter::~Converter() {
    if (object_) object_->Release();
}

}  // namespace kxcli
