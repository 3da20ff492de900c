// Loading the component and reaching it as any host does: dlopen, the
// exported functions, and the converter from the class factory.
#pragma once

#include <string>

#include "KX_Remuxion.h"

namespace kxcli {

// The exported functions of libKX_Remuxion.so.
struct ComponentExports {
    HRESULT (*getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    BSTR (*sysAllocString)(const OLECHAR*) = nullptr;
    void (*sysFreeString)(BSTR) = nullptr;
    uint32_t (*sysStringLen)(BSTR) = nullptr;
    int32_t (*isCodecSupport)(int32_t) = nullptr;
    void (*setLogSink)(KX_LogSink, void*) = nullptr;
    void (*freeKeyFrameList)(KeyFrameList*) = nullptr;
    HRESULT (*setOutputOptions)(IStreamwright*, uint32_t) = nullptr;
    BSTR (*getLastErrorText)(IStreamwright*) = nullptr;
    int32_t (*isOutputComplete)(IStreamwright*, int64_t, int64_t) = nullptr;
    int32_t (*getStreamCount)(IStreamwright*, int64_t) = nullptr;
    HRESULT (*getStreamSummary)(IStreamwright*, int64_t, int32_t, KX_StreamSummary*) = nullptr;
    int32_t (*isCodecAllowedIn)(const OLECHAR*, int32_t) = nullptr;
    HRESULT (*setInputOptions)(IStreamwright*, uint32_t) = nullptr;
    HRESULT (*getClipCutReport)(IStreamwright*, int64_t, int64_t, KX_ClipCutReport*) = nullptr;
    BSTR (*getClipCutReason)(IStreamwright*, int64_t, int64_t) = nullptr;
    HRESULT (*getKeyFramesNear)(IStreamwright*, int64_t, const int64_t*, int32_t, KeyFrameList*) = nullptr;
};

// Loads the library once: first from the folder of this program, then by
// the normal search (which includes the program's run path). Fails with a
// message naming where it looked.
const ComponentExports& Component();

// A BSTR made by the component's allocator, freed on destruction.
class Bstr {
public:
    explicit Bstr(const std::string& utf8);
    ~Bstr();
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value_; }

private:
    BSTR value_;
};

// Converts a BSTR handed out by the component to UTF-8 and frees it.
std::string TakeBstr(BSTR text);

// One converter object; released on destruction.
class Converter {
public:
    Converter();  // fails through CliError when the class cannot be created
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    IStreamwright* operator->() const { return object_; }
    IStreamwright* Get() const { return object_; }

private:
    IStreamwright* object_ = nullptr;
};

// Releases a COM object when leaving scope.
template <typename T>
class ComRef {
public:
    explicit ComRef(T* object = nullptr) : object_(object) {}
    ~ComRef() {
        if (object_) object_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return object_; }
    T* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_;
};

}  // namespace kxcli
