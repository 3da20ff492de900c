#include "api/CFFMpegStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/CKXSample.h"
#include "api/CStreamInfo.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "input/DemuxTypes.h"
#include "input/ITDemuxer.h"
#include "input/MediaFrameRecord.h"

namespace kx {

namespace {

constexpr int32_t kDecodedSubtype = 1;
constexpr int32_t kAudioBufferSlack = 1024;  // added when a block outgrows the PCM buffer

// The record of the stream with this index: in the video arrays for video,
// in the audio arrays for audio, over every program in order.
const MediaStreamRecord* FindStreamRecord(const FileMediaInfo* info, int64_t streamIndex, int32_t kind) {
    if (!info || !info->programs) return nullptr;
    for (uint32_t p = 0; p < info->programCount; ++p) {
        const ProgramInfo& program = info->programs[p];
        const MediaStreamRecord* records = kind == KX_STREAM_VIDEO ? program.videos : program.audios;
        uint32_t count = kind == KX_STREAM_VIDEO ? program.videoCount : program.audioCount;
        if (!records) continue;
        for (uint32_t i = 0; i < count; ++i)
            if (int64_t(records[i].streamIndex) == streamIndex) return &records[i];
    }
    return nullptr;
}

StreamRecord DescriptionOf(const MediaStreamRecord& source, int64_t streamIndex, int32_t kind) {
    StreamRecord record;
    std::memset(&record, 0, sizeof record);
    record.mediaType = static_cast<uint32_t>(kind);
    record.streamTag = static_cast<uint32_t>(source.streamId);
    record.codecId = source.codecId;
    record.streamIndex = static_cast<uint32_t>(streamIndex);
    // The narrow codec name, widened; the field keeps a terminator.
    for (size_t i = 0; i < sizeof source.codecName && source.codecName[i] != 0; ++i)
        record.codecName[i] = static_cast<unsigned char>(source.codecName[i]);
    record.duration = source.duration;
    record.bitRate = source.bitRate;
    if (kind == KX_STREAM_VIDEO) {
        record.video.width = source.width;
        record.video.height = source.height;
        record.video.frameRate = source.frameRate;
        record.video.aspectNumerator = source.aspectNum;
        record.video.aspectDenominator = source.aspectDen;
    } else {
        record.audio.sampleRate = source.sampleRate;
        record.audio.channels = source.channels;
        record.audio.bitsPerSample = source.bitsPerSample;
        record.audio.bytesPerSecond = source.bytesPerSecond;
        record.audio.duration = source.audioDuration;
    }
    record.extraA = source.reserved368;
    record.extraB = source.reserved376;
    return record;
}

// Whether the planar record has the layout of the picture.
bool FitsPicture(const MediaFrameRecord& record, const DecodedFrame& frame) {
    const MediaFramePlanar& planar = record.video.planar;
    return planar.y && planar.width == frame.video.width && planar.height == frame.video.height &&
           planar.yRowLength == frame.video.yRowLength && planar.uRowLength == frame.video.uRowLength &&
           planar.vRowLength == frame.video.vRowLength;
}

}  // namespace

CFFMpegStream::CFFMpegStream(DemuxerHolder* holder, int64_t streamIndex, int32_t kind)
    : holder_(holder), streamIndex_(streamIndex) {
    if (holder_ && holder_->demuxer) control_ = holder_->demuxer->GetControl();
    mediaType_ = kind == KX_STREAM_VIDEO ? KX_SAMPLE_VIDEO : kind == KX_STREAM_AUDIO ? KX_SAMPLE_AUDIO : 0;
    sample_ = CKXSample::Create(mediaType_, kDecodedSubtype);
    streamInfo_ = CStreamInfo::Create();
    DescribeStream();
}

CFFMpegStream* CFFMpegStream::Create(DemuxerHolder* holder, int64_t streamIndex, int32_t kind) {
    auto* stream = new (std::nothrow) CFFMpegStream(holder, streamIndex, kind);
    if (!stream) {
        DestroyDemuxerHolder(holder);
        return nullptr;
    }
    if (!stream->sample_) {  // nothing to show frames in
        delete stream;
        return nullptr;
    }
    stream->NonDelegatingAddRef();
    return stream;
}

CFFMpegStream::~CFFMpegStream() {
    if (sample_) {
        sample_->AttachRecord(nullptr);
        sample_->NonDelegatingRelease();
        sample_ = nullptr;
    }
    FreeFrameRecord(record_);
    record_ = nullptr;
    if (streamInfo_) streamInfo_->NonDelegatingRelease();
    streamInfo_ = nullptr;
    control_ = nullptr;
    DestroyDemuxerHolder(holder_);
    holder_ = nullptr;
}

HRESULT CFFMpegStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_IMediaStreamEx)) return GetInterface(static_cast<IMediaStreamEx*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CFFMpegStream::DescribeStream() {
    if (!streamInfo_ || !holder_ || !holder_->mediaInfo) return;
    int32_t kind = mediaType_ == KX_SAMPLE_VIDEO ? KX_STREAM_VIDEO : KX_STREAM_AUDIO;
    const MediaStreamRecord* source = FindStreamRecord(holder_->mediaInfo->GetMediainfo(), streamIndex_, kind);
    if (!source) return;
    StreamRecord record = DescriptionOf(*source, streamIndex_, kind);
    streamInfo_->SetStreamRecord(&record);
}

HRESULT CFFMpegStream::GetStreamInfo(IStreamInfo** info) {
    if (!info) return KX_E_POINTER;
    if (!streamInfo_) return KX_E_FAIL;
    *info = static_cast<IStreamInfo*>(streamInfo_);
    return KX_S_OK;
}

IUnknown* CFFMpegStream::GetSampleObject() {
    if (!sample_) return nullptr;
    // The sample's own identity: its non-delegating unknown has IUnknown's slots.
    return reinterpret_cast<IUnknown*>(static_cast<scombase::INonDelegatingUnknown*>(sample_));
}

int32_t CFFMpegStream::ReadNextFrame() {
    if (!control_ || !sample_ || control_->ReadNext() == 0) return 0;
    DecodedFrame* frame = control_->GetDecodedFrame();
    if (!frame) return 0;
    bool taken = false;
    if (mediaType_ == KX_SAMPLE_VIDEO && frame->type == MediaType::kVideo)
        taken = TakeVideoFrame(*frame);
    else if (mediaType_ == KX_SAMPLE_AUDIO && frame->type == MediaType::kAudio)
        taken = TakeAudioFrame(*frame);
    if (!taken) return 0;
    record_->subtype = kDecodedSubtype;
    sample_->AttachRecord(record_);
    sample_->RefreshFromRecord();  // the sample's sizes and time mirrors follow the record
    return 1;
}

void CFFMpegStream::DropFrameRecord() {
    if (sample_) sample_->AttachRecord(nullptr);
    FreeFrameRecord(record_);
    record_ = nullptr;
}

bool CFFMpegStream::TakeVideoFrame(const DecodedFrame& frame) {
    const DecodedFrame::Video& picture = frame.video;
    if (!picture.y || !picture.u || !picture.v || picture.width <= 0 || picture.height <= 0) return false;
    // Made at the first picture; a picture of another size gets a record of its own.
    if (!record_ || !FitsPicture(*record_, frame)) {
        DropFrameRecord();
        record_ = CreatePlanarVideoRecord(picture.width, picture.height);
        if (!record_) return false;
        if (!FitsPicture(*record_, frame)) {  // rows that the picture layout does not explain
            FreeFrameRecord(record_);
            record_ = nullptr;
            return false;
        }
    }
    MediaFramePlanar& planar = record_->video.planar;
    record_->decodeTime = frame.pts;
    record_->presentationTime = frame.pts;
    record_->duration = frame.duration;
    std::memcpy(planar.y, picture.y, size_t(picture.yRowLength) * picture.height);
    std::memcpy(planar.u, picture.u, size_t(picture.uRowLength) * picture.height / 2);
    std::memcpy(planar.v, picture.v, size_t(picture.vRowLength) * picture.height / 2);
    SampleInfo info;
    record_->video.keyFrame = control_->GetSampleInfo(&info) && (info.flags & 1) ? 1 : 0;
    return true;
}

bool CFFMpegStream::TakeAudioFrame(const DecodedFrame& frame) {
    const DecodedFrame::Audio& block = frame.audio;
    if (block.bytesHeld < 0 || (block.bytesHeld > 0 && !block.buffer)) return false;
    if (!record_) {
        record_ = CreateAudioRecord(block.sampleRate, block.channels);
        if (!record_) return false;
    }
    MediaFrameAudio& audio = record_->audio;
    record_->presentationTime = frame.pts;
    record_->decodeTime = frame.dts;
    record_->duration = frame.duration;
    audio.bitsPerSample = 16;
    audio.channels = block.channels;
    audio.sampleRate = block.sampleRate;
    if (audio.capacity < block.bytesHeld || !audio.buffer) {
        if (block.bytesHeld > kMaxFrameBytes - kAudioBufferSlack) return false;
        int32_t capacity = block.bytesHeld + kAudioBufferSlack;
        auto* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
        if (!grown) return false;
        std::free(audio.buffer);
        audio.buffer = grown;
        audio.capacity = capacity;
    }
    if (block.bytesHeld > 0) std::memcpy(audio.buffer, block.buffer, static_cast<size_t>(block.bytesHeld));
    audio.bytesHeld = block.bytesHeld;
    return true;
}

double CFFMpegStream::SeekStream(double seconds) {
    if (!control_) return -1.0;
    return static_cast<double>(control_->Seek(seconds, SeekMode::kAny, static_cast<int>(streamIndex_)));
}

}  // namespace kx
