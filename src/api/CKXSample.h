// The media sample handed to hosts: one frame record (owned or borrowed)
// with its times, behind IKXSample.
#pragma once

#include <cstdint>
#include <vector>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace kx {

class CKXSample final : public scombase::CUnknown, public IKXSample {
public:
    // mediaType: KX_SAMPLE_VIDEO or KX_SAMPLE_AUDIO. Reference count 0.
    CKXSample(int32_t mediaType, int32_t subtype);
    ~CKXSample() override;

    // A new sample holding one reference for the creator (a host's
    // QueryInterface/Release pair then cannot destroy it), or null.
    static CKXSample* Create(int32_t mediaType, int32_t subtype);

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    // IKXSample, slots 3-18
    int32_t GetLock() override { return lock_; }
    int32_t GetSubType() override { return subtype_; }
    int32_t GetMediaType() override { return mediaType_; }
    int32_t GetStreamTag() override { return streamTag_; }
    int32_t IsSyncPoint() override { return syncPoint_; }
    HRESULT SetLock(int32_t lock) override;
    int32_t GetCapacity() override { return capacity_; }
    MediaFrameRecord* GetFrameRecord() override { return record_; }
    HRESULT Allocate(uint32_t size) override;
    int64_t GetDuration() override;
    int64_t GetDecodeTime() override;
    int64_t GetPresentationTime() override;
    HRESULT SetDecodeTime(int64_t time) override;
    HRESULT SetPresentationTime(int64_t time) override;
    HRESULT SetDuration(int64_t duration) override;
    HRESULT ReleaseToOwner() override;

    int64_t GetUserData() const { return userData_; }
    HRESULT SetUserData(int64_t value);
    // Copy a frame into the current record (growing its buffer when needed).
    HRESULT CopyFromRecord(const MediaFrameRecord* record);
    HRESULT CopyFromSample(const CKXSample* sample);
    // Makes record (or null) the current one, borrowed: the sample never
    // frees it, though a copy into it may replace its (malloc'ed) buffer.
    // The capacity becomes what the record's buffer is known to hold.
    HRESULT AttachRecord(MediaFrameRecord* record);
    // Takes sizes, times and the sync point from a record changed in place.
    HRESULT RefreshFromRecord();
    // A count n followed by n sizes; null clears the list.
    HRESULT SetSegmentList(const int32_t* list);
    // The stored list (count first). An empty list answers one segment: the
    // bytes held of an audio record, the data size of a video record; without
    // a record the count stays 0.
    const int32_t* GetSegmentList();
    // Frees an owned record (a borrowed one is only forgotten) and zeroes
    // capacity, data size, time mirrors and sync point.
    void FreeRecord();

    // Record format that Allocate makes for video (KX_FRAME_*); 1 by default.
    void SetVideoFormat(int32_t format) { videoFormat_ = format; }
    // The object that ReleaseToOwner hands the sample back to: its slot 10 is
    // called as (owner, sample). One reference is held; null clears it.
    void SetOwner(IUnknown* owner);
    int32_t GetDataSize() const { return dataSize_; }
    bool OwnsRecord() const { return record_ && ownsRecord_; }

    // Largest segment count SetSegmentList accepts.
    static constexpr int32_t kMaxSegments = 1 << 20;

private:
    // Steps shared by both copies: times, then the frame by media type.
    HRESULT CopyFrame(const MediaFrameRecord& source);
    // Replaces the buffer in *slot by a new one of `bytes` (the sample's
    // capacity from then on); false, with nothing changed, when none is had.
    bool GrowBuffer(uint8_t** slot, int64_t bytes);
    HRESULT CopyBitmap(const MediaFrameRecord& source);
    HRESULT CopyPlanar(const MediaFrameRecord& source);
    HRESULT CopyBytes(const MediaFrameRecord& source);
    HRESULT CopyAudio(const MediaFrameRecord& source);
    // Whether a frame can be copied from source into the current record.
    bool CanCopyFrom(const MediaFrameRecord* source) const;
    // Frees an owned record without touching the mirrors.
    void DropRecord();
    bool HasTimedRecord() const { return record_ && record_->mediaType != 0; }

    int32_t syncPoint_ = 0;
    int32_t streamTag_ = -1;
    int32_t capacity_ = 0;
    int32_t dataSize_ = 0;
    int32_t lock_ = 0;
    int32_t subtype_ = 0;
    int32_t mediaType_ = 0;
    int32_t videoFormat_ = KX_FRAME_PLANAR;
    MediaFrameRecord* record_ = nullptr;
    bool ownsRecord_ = false;
    int64_t decodeTime_ = 0;
    int64_t presentationTime_ = 0;
    int64_t duration_ = 0;
    int64_t userData_ = 0;
    IUnknown* owner_ = nullptr;
    std::vector<int32_t> segments_ = std::vector<int32_t>(10, 0);  // count, then sizes
};

}  // namespace kx
