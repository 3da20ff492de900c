// One stream's description for hosts: a copy of a 560-byte StreamRecord and a
// block of five 64-bit values, behind IStreamInfo and IStreamInfoSrc.
#pragma once

#include <cstdint>
#include <memory>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace kx {

class CStreamInfo final : public scombase::CUnknown, public IStreamInfo, public IStreamInfoSrc {
public:
    static constexpr int kTimeBlockValues = 5;

    CStreamInfo() = default;
    ~CStreamInfo() override;

    // A new object with one reference for the creator, or null.
    static CStreamInfo* Create();

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    // Copies the record, and its 40 bytes from offset 416 into the time block.
    HRESULT SetStreamRecord(const StreamRecord* record);
    // Replaces the time block with a copy of five values.
    HRESULT SetTimeBlock(const int64_t* values);
    const StreamRecord* Record() const { return record_.get(); }

    // IStreamInfo, slots 3-14
    uint32_t GetMediaType() override;
    uint32_t GetStreamTag() override;
    uint32_t GetCodecId() override;
    uint32_t GetStreamIndex() override;
    HRESULT GetCodecName(BSTR* name) override;
    HRESULT GetDescription(BSTR* text) override;
    double GetDuration() override;
    uint32_t GetBitRate() override;
    StreamAudioFormat* GetAudioFormat() override;
    StreamVideoFormat* GetVideoFormat() override;
    int64_t GetExtraA() override;
    int64_t GetExtraB() override;

    // IStreamInfoSrc, slots 3-6
    int64_t* GetTimeBlock() override { return timeBlock_.get(); }
    uint32_t GetSourceModeA() override;
    uint32_t GetSourceModeB() override;
    uint32_t GetSourceFlags() override;

private:
    std::unique_ptr<StreamRecord> record_;
    std::unique_ptr<int64_t[]> timeBlock_;
};

}  // namespace kx
