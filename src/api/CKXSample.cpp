#include "api/CKXSample.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "input/MediaFrameRecord.h"
#include "platform/KX_Log.h"

namespace kx {

namespace {

constexpr HRESULT kRefused = KX_E_SAMPLE_REFUSED;

static_assert(sizeof(MediaFramePlanar) >= sizeof(MediaFrameBitmap) && sizeof(MediaFramePlanar) >= sizeof(MediaFrameBytes),
              "the planar layout spans every video format");

uint8_t* NewBuffer(int64_t bytes) {
    if (bytes <= 0 || bytes > kMaxFrameBytes) return nullptr;
    auto* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
    if (!buffer) LogFormat(u"CKXSample: no memory for a frame of %d bytes\n", static_cast<int32_t>(bytes));
    return buffer;
}

// Whether the frame in source has sizes that a copy can honour.
bool SourceSizesAreSane(const MediaFrameRecord& source) {
    if (source.mediaType == KX_SAMPLE_AUDIO) return source.audio.bytesHeld >= 0;
    switch (source.video.format) {
    case KX_FRAME_BITMAP:
        // The buffer grows to twice the frame, which must still fit a 32-bit size.
        return source.video.bitmap.header.biSizeImage <= kMaxFrameBytes / 2;
    case KX_FRAME_PLANAR:
        return PlanarDataSize(source.video.planar.width, source.video.planar.height) >= 0;
    case KX_FRAME_BYTES:
        return source.video.bytes.bytesHeld >= 0;
    default:
        return true;
    }
}

}  // namespace

CKXSample::CKXSample(int32_t mediaType, int32_t subtype) : subtype_(subtype), mediaType_(mediaType) {}

CKXSample::~CKXSample() {
    FreeRecord();
    segments_.clear();
    SetOwner(nullptr);
    userData_ = 0;
}

CKXSample* CKXSample::Create(int32_t mediaType, int32_t subtype) {
    auto* sample = new (std::nothrow) CKXSample(mediaType, subtype);
    if (sample) sample->NonDelegatingAddRef();
    return sample;
}

HRESULT CKXSample::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_IKXSample)) return GetInterface(static_cast<IKXSample*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CKXSample::SetLock(int32_t lock) {
    lock_ = lock;
    return KX_S_OK;
}

HRESULT CKXSample::SetUserData(int64_t value) {
    userData_ = value;
    return KX_S_OK;
}

void CKXSample::SetOwner(IUnknown* owner) {
    if (owner) owner->AddRef();
    if (owner_) owner_->Release();
    owner_ = owner;
}

void CKXSample::DropRecord() {
    if (record_ && ownsRecord_) FreeFrameRecord(record_);
    record_ = nullptr;
    ownsRecord_ = false;
}

void CKXSample::FreeRecord() {
    DropRecord();
    capacity_ = 0;
    dataSize_ = 0;
    decodeTime_ = presentationTime_ = duration_ = 0;
    syncPoint_ = 0;
}

HRESULT CKXSample::Allocate(uint32_t size) {
    if (capacity_ >= 0 && size <= static_cast<uint32_t>(capacity_)) return KX_S_OK;
    bool video = mediaType_ == KX_SAMPLE_VIDEO;
    if (!video && mediaType_ != KX_SAMPLE_AUDIO) return kRefused;
    if (video && videoFormat_ != KX_FRAME_BITMAP && videoFormat_ != KX_FRAME_PLANAR && videoFormat_ != KX_FRAME_BYTES)
        return kRefused;
    if (size > kMaxFrameBytes) {
        LogFormat(u"CKXSample: Allocate of %I64d bytes refused\n", static_cast<int64_t>(size));
        return kRefused;
    }
    // Both made before the old record goes, so that a failure changes nothing.
    MediaFrameRecord* record = NewFrameRecord();
    uint8_t* buffer = NewBuffer(size);
    if (!record || !buffer) {
        std::free(record);
        std::free(buffer);
        return kRefused;
    }
    FreeRecord();
    record->mediaType = mediaType_;
    record->subtype = subtype_;
    int32_t bytes = static_cast<int32_t>(size);
    if (!video) {
        record->audio.buffer = buffer;
        record->audio.capacity = bytes;
    } else {
        record->video.format = videoFormat_;
        switch (videoFormat_) {
        case KX_FRAME_PLANAR:
            record->video.planar.layout = 2;
            record->video.planar.y = buffer;
            break;
        case KX_FRAME_BITMAP:
            record->video.bitmap.pixels = buffer;
            break;
        default:
            record->video.bytes.data = buffer;
            record->video.bytes.capacity = bytes;
            break;
        }
    }
    record_ = record;
    ownsRecord_ = true;
    capacity_ = bytes;
    dataSize_ = 0;
    return KX_S_OK;
}

int64_t CKXSample::GetDuration() { return HasTimedRecord() ? record_->duration : -1; }
int64_t CKXSample::GetDecodeTime() { return HasTimedRecord() ? record_->decodeTime : -1; }
int64_t CKXSample::GetPresentationTime() { return HasTimedRecord() ? record_->presentationTime : -1; }

HRESULT CKXSample::SetDecodeTime(int64_t time) {
    if (HasTimedRecord()) record_->decodeTime = decodeTime_ = time;
    return KX_S_OK;
}

HRESULT CKXSample::SetPresentationTime(int64_t time) {
    if (HasTimedRecord()) record_->presentationTime = presentationTime_ = time;
    return KX_S_OK;
}

HRESULT CKXSample::SetDuration(int64_t duration) {
    if (HasTimedRecord()) {
        record_->duration = static_cast<int32_t>(static_cast<uint64_t>(duration) & 0xFFFFFFFFu);
        duration_ = duration;
    }
    return KX_S_OK;
}

HRESULT CKXSample::ReleaseToOwner() {
    lock_ = 0;
    if (!owner_) return kRefused;
    // The owner's slot 10 takes the sample back.
    using TakeBack = HRESULT (*)(IUnknown* owner, IKXSample* sample);
    auto table = *reinterpret_cast<void* const* const*>(owner_);
    auto takeBack = reinterpret_cast<TakeBack>(table[10]);
    return takeBack(owner_, static_cast<IKXSample*>(this));
}

HRESULT CKXSample::AttachRecord(MediaFrameRecord* record) {
    if (record == record_) return KX_S_OK;
    DropRecord();
    record_ = record;
    ownsRecord_ = false;
    // Copies into the record trust the capacity, so it must describe this record.
    capacity_ = record ? KnownBufferSize(*record) : 0;
    return KX_S_OK;
}

bool CKXSample::CanCopyFrom(const MediaFrameRecord* source) const {
    if (!source || !record_ || source == record_) return false;
    if (source->mediaType != mediaType_ || source->subtype != subtype_) return false;
    if (record_->mediaType != mediaType_) return false;
    // Two records sharing one buffer: a copy could free what it reads.
    const uint8_t* buffer = FrameBuffer(*source);
    return !buffer || buffer != FrameBuffer(*record_);
}

HRESULT CKXSample::CopyFromRecord(const MediaFrameRecord* record) {
    if (!CanCopyFrom(record)) return kRefused;
    HRESULT status = CopyFrame(*record);
    if (status != KX_S_OK) return status;
    if (record->mediaType == KX_SAMPLE_VIDEO) syncPoint_ = record->video.keyFrame;
    decodeTime_ = record->decodeTime;
    presentationTime_ = record->presentationTime;
    duration_ = record->duration;
    return KX_S_OK;
}

HRESULT CKXSample::CopyFromSample(const CKXSample* sample) {
    if (!sample || sample == this) return kRefused;
    if (sample->mediaType_ != mediaType_ || sample->subtype_ != subtype_) return kRefused;
    if (!CanCopyFrom(sample->record_)) return kRefused;
    HRESULT status = CopyFrame(*sample->record_);
    if (status != KX_S_OK) return status;
    streamTag_ = sample->streamTag_;
    lock_ = sample->lock_;
    syncPoint_ = sample->syncPoint_;
    decodeTime_ = sample->decodeTime_;
    presentationTime_ = sample->presentationTime_;
    return KX_S_OK;
}

HRESULT CKXSample::CopyFrame(const MediaFrameRecord& source) {
    if (source.mediaType != KX_SAMPLE_VIDEO && source.mediaType != KX_SAMPLE_AUDIO) return kRefused;
    if (!SourceSizesAreSane(source)) {
        LogText(u"CKXSample: frame with impossible sizes refused\n");
        return kRefused;
    }
    MediaFrameRecord& target = *record_;
    target.decodeTime = source.decodeTime;
    target.presentationTime = source.presentationTime;
    target.duration = source.duration;
    if (source.mediaType == KX_SAMPLE_AUDIO) return CopyAudio(source);

    if (target.video.format != source.video.format) {
        // The old buffer fields mean something else in the new format.
        FreeFrameBuffers(target);
        std::memset(&target.video.planar, 0, sizeof(MediaFramePlanar));
        capacity_ = 0;
    }
    target.video.format = source.video.format;
    target.video.keyFrame = source.video.keyFrame;
    switch (source.video.format) {
    case KX_FRAME_BITMAP: return CopyBitmap(source);
    case KX_FRAME_PLANAR: return CopyPlanar(source);
    case KX_FRAME_BYTES: return CopyBytes(source);
    default:
        dataSize_ = 0;
        return KX_S_OK;
    }
}

bool CKXSample::GrowBuffer(uint8_t** slot, int64_t bytes) {
    uint8_t* buffer = NewBuffer(bytes);
    if (!buffer) return false;
    std::free(*slot);
    *slot = buffer;
    capacity_ = static_cast<int32_t>(bytes);
    return true;
}

HRESULT CKXSample::CopyBitmap(const MediaFrameRecord& source) {
    MediaFrameBitmap& target = record_->video.bitmap;
    const MediaFrameBitmap& from = source.video.bitmap;
    int64_t size = from.header.biSizeImage;
    // Twice the frame, so that slightly larger frames that follow fit.
    if (size > capacity_ && !GrowBuffer(&target.pixels, size * 2)) return kRefused;
    dataSize_ = static_cast<int32_t>(size);
    target.header = from.header;
    if (target.pixels && from.pixels && size > 0) std::memcpy(target.pixels, from.pixels, static_cast<size_t>(size));
    return KX_S_OK;
}

HRESULT CKXSample::CopyPlanar(const MediaFrameRecord& source) {
    MediaFramePlanar& target = record_->video.planar;
    const MediaFramePlanar& from = source.video.planar;
    target.layout = from.layout;
    int64_t width = from.width, height = from.height;
    int64_t luma = width * height;
    int64_t chroma = ((width + 1) / 2) * ((height + 1) / 2);
    int64_t size = luma + 2 * chroma;
    if (size > capacity_) {
        if (!GrowBuffer(&target.y, size)) return kRefused;
        target.u = target.v = target.alpha = nullptr;  // they pointed into the old buffer
    }
    dataSize_ = static_cast<int32_t>(size);
    uint8_t* base = target.y;
    if (base && from.y && luma > 0) std::memcpy(base, from.y, static_cast<size_t>(luma));
    if (base && from.u) {
        target.u = base + luma;
        if (chroma > 0) std::memcpy(target.u, from.u, static_cast<size_t>(chroma));
    }
    if (base && from.v) {
        target.v = base + luma + chroma;
        if (chroma > 0) std::memcpy(target.v, from.v, static_cast<size_t>(chroma));
    }
    target.width = from.width;
    target.height = from.height;
    target.yRowLength = from.yRowLength;
    target.uRowLength = from.uRowLength;
    target.vRowLength = from.vRowLength;
    return KX_S_OK;
}

HRESULT CKXSample::CopyBytes(const MediaFrameRecord& source) {
    MediaFrameBytes& target = record_->video.bytes;
    const MediaFrameBytes& from = source.video.bytes;
    int32_t held = from.bytesHeld;
    if (held > capacity_) {
        if (!GrowBuffer(&target.data, held)) return kRefused;
        target.capacity = held;
    }
    if (target.data && from.data && held > 0) std::memcpy(target.data, from.data, static_cast<size_t>(held));
    target.bytesHeld = held;
    dataSize_ = held;
    return KX_S_OK;
}

HRESULT CKXSample::CopyAudio(const MediaFrameRecord& source) {
    MediaFrameAudio& target = record_->audio;
    const MediaFrameAudio& from = source.audio;
    int32_t held = from.bytesHeld;
    if (held > capacity_) {
        if (!GrowBuffer(&target.buffer, held)) return kRefused;
        target.capacity = held;
    }
    if (target.buffer && from.buffer) {
        if (held > 0) std::memcpy(target.buffer, from.buffer, static_cast<size_t>(held));
        target.bytesHeld = held;
        target.bitsPerSample = from.bitsPerSample;
        target.channels = from.channels;
        target.sampleRate = from.sampleRate;
    }
    dataSize_ = target.bytesHeld;
    return KX_S_OK;
}

HRESULT CKXSample::RefreshFromRecord() {
    if (!record_) return kRefused;
    const MediaFrameRecord& record = *record_;
    decodeTime_ = record.decodeTime;
    presentationTime_ = record.presentationTime;
    duration_ = record.duration;
    if (record.mediaType == KX_SAMPLE_VIDEO) {
        syncPoint_ = record.video.keyFrame != 0 ? 1 : 0;
        if (record.video.format == KX_FRAME_PLANAR) {
            int64_t size = PlanarDataSize(record.video.planar.width, record.video.planar.height);
            if (size < 0) return kRefused;
            dataSize_ = static_cast<int32_t>(size);
            // A borrowed buffer is only known to hold the planar frame.
            capacity_ = ownsRecord_ ? std::max(capacity_, dataSize_) : dataSize_;
            return KX_S_OK;
        }
        if (record.video.format == KX_FRAME_BYTES) {
            dataSize_ = record.video.bytes.bytesHeld;
            capacity_ = record.video.bytes.capacity;
            return KX_S_OK;
        }
        return kRefused;
    }
    if (record.mediaType == KX_SAMPLE_AUDIO) {
        capacity_ = record.audio.capacity;
        dataSize_ = record.audio.bytesHeld;
        syncPoint_ = 1;
        if (record.audio.bytesHeld == 0) duration_ = 0;
        return KX_S_OK;
    }
    return kRefused;
}

HRESULT CKXSample::SetSegmentList(const int32_t* list) {
    if (!list) {
        segments_[0] = 0;
        return KX_S_OK;
    }
    int32_t count = list[0];
    if (count < 0 || count > kMaxSegments) {
        LogFormat(u"CKXSample: segment list of %d entries refused\n", count);
        return kRefused;
    }
    if (static_cast<size_t>(count) + 1 > segments_.size()) segments_.assign(static_cast<size_t>(count) + 1, 0);
    std::copy(list, list + count + 1, segments_.begin());
    return KX_S_OK;
}

const int32_t* CKXSample::GetSegmentList() {
    if (segments_[0] == 0 && record_) {
        if (record_->mediaType == KX_SAMPLE_AUDIO) {
            segments_[0] = 1;
            segments_[1] = record_->audio.bytesHeld;
        } else if (record_->mediaType == KX_SAMPLE_VIDEO) {
            segments_[0] = 1;
            segments_[1] = dataSize_;
        }
    }
    return segments_.data();
}

}  // namespace kx
