#include "api/CStreamInfo.h"

#include <cstring>
#include <new>
#include <string>

namespace kx {

namespace {

// A BSTR of a fixed-size text field, cut at its end when it has no terminator.
HRESULT FieldToBstr(const OLECHAR* field, size_t capacity, BSTR* out) {
    size_t length = 0;
    while (length < capacity && field[length] != 0) ++length;
    std::u16string text(field, length);
    *out = SysAllocString(text.c_str());
    return *out ? KX_S_OK : KX_E_OUTOFMEMORY;
}

}  // namespace

CStreamInfo::~CStreamInfo() = default;

CStreamInfo* CStreamInfo::Create() {
    auto* info = new (std::nothrow) CStreamInfo();
    if (info) info->NonDelegatingAddRef();
    return info;
}

HRESULT CStreamInfo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_IStreamInfo)) return GetInterface(static_cast<IStreamInfo*>(this), ppv);
    if (scombase::IsEqualGuid(riid, IID_IStreamInfoSrc)) return GetInterface(static_cast<IStreamInfoSrc*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CStreamInfo::SetStreamRecord(const StreamRecord* record) {
    if (!record) return KX_E_POINTER;
    if (!record_) record_.reset(new (std::nothrow) StreamRecord);
    if (!record_) return KX_E_OUTOFMEMORY;
    std::memcpy(record_.get(), record, sizeof(StreamRecord));
    static_assert(sizeof(StreamVideoFormat) == kTimeBlockValues * sizeof(int64_t), "the time block mirrors offset 416");
    int64_t values[kTimeBlockValues];
    std::memcpy(values, &record->video, sizeof values);
    return SetTimeBlock(values);
}

HRESULT CStreamInfo::SetTimeBlock(const int64_t* values) {
    if (!values) return KX_E_POINTER;
    if (!timeBlock_) timeBlock_.reset(new (std::nothrow) int64_t[kTimeBlockValues]);
    if (!timeBlock_) return KX_E_OUTOFMEMORY;
    std::memcpy(timeBlock_.get(), values, kTimeBlockValues * sizeof(int64_t));
    return KX_S_OK;
}

uint32_t CStreamInfo::GetMediaType() { return record_ ? record_->mediaType : 0; }
uint32_t CStreamInfo::GetStreamTag() { return record_ ? record_->streamTag : 0; }
uint32_t CStreamInfo::GetCodecId() { return record_ ? record_->codecId : 0; }
uint32_t CStreamInfo::GetStreamIndex() { return record_ ? record_->streamIndex : 0xFFFFFFFFu; }

HRESULT CStreamInfo::GetCodecName(BSTR* name) {
    if (!name) return KX_E_POINTER;
    if (!record_) return KX_E_FAIL;
    return FieldToBstr(record_->codecName, sizeof record_->codecName / sizeof(OLECHAR), name);
}

HRESULT CStreamInfo::GetDescription(BSTR* text) {
    if (!text) return KX_E_POINTER;
    if (!record_) return KX_E_FAIL;
    return FieldToBstr(record_->description, sizeof record_->description / sizeof(OLECHAR), text);
}

double CStreamInfo::GetDuration() { return record_ ? record_->duration : 0.0; }
uint32_t CStreamInfo::GetBitRate() { return record_ ? record_->bitRate : 0; }
StreamAudioFormat* CStreamInfo::GetAudioFormat() { return record_ ? &record_->audio : nullptr; }
StreamVideoFormat* CStreamInfo::GetVideoFormat() { return record_ ? &record_->video : nullptr; }
int64_t CStreamInfo::GetExtraA() { return record_ ? record_->extraA : 0; }
int64_t CStreamInfo::GetExtraB() { return record_ ? record_->extraB : 0; }

uint32_t CStreamInfo::GetSourceModeA() { return record_ ? record_->sourceModeA : 2; }
uint32_t CStreamInfo::GetSourceModeB() { return record_ ? record_->sourceModeB : 2; }
uint32_t CStreamInfo::GetSourceFlags() { return record_ ? record_->sourceFlags : 0; }

}  // namespace kx
