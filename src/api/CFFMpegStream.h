// A decoding reader of one stream of an input file, handed to hosts behind
// IMediaStreamEx: it reads through a private demuxer in decode mode and
// shows each decoded picture or block of PCM in its sample.
#pragma once

#include <cstdint>

#include "KX_Remuxion.h"
#include "api/CUnknown.h"

namespace kx {

class CKXSample;
class CStreamInfo;
class ITDemuxerControl;
struct DecodedFrame;
struct DemuxerHolder;

class CFFMpegStream final : public scombase::CUnknown, public IMediaStreamEx {
public:
    // Takes ownership of holder (may be null: the stream then reads nothing).
    // kind: 1 video, 2 audio. The object comes with one reference.
    static CFFMpegStream* Create(DemuxerHolder* holder, int64_t streamIndex, int32_t kind);
    ~CFFMpegStream() override;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    KX_DECLARE_IUNKNOWN

    // IMediaStreamEx, slots 3-10
    HRESULT GetStreamInfo(IStreamInfo** info) override;
    int32_t ReservedA() override { return 0; }
    IUnknown* GetSampleObject() override;
    int32_t ReadNextFrame() override;
    int32_t ReservedB() override { return 0; }
    double SeekStream(double seconds) override;
    int32_t ReservedC() override { return 1; }
    IUnknown* GetCurrentSample() override { return GetSampleObject(); }

private:
    CFFMpegStream(DemuxerHolder* holder, int64_t streamIndex, int32_t kind);
    // Fills the stream description from the file's media information.
    void DescribeStream();
    bool TakeVideoFrame(const DecodedFrame& frame);
    bool TakeAudioFrame(const DecodedFrame& frame);
    // Detaches and frees the frame record.
    void DropFrameRecord();

    CKXSample* sample_ = nullptr;
    DemuxerHolder* holder_ = nullptr;
    ITDemuxerControl* control_ = nullptr;
    int64_t streamIndex_ = -1;
    int32_t mediaType_ = 0;  // KX_SAMPLE_VIDEO or KX_SAMPLE_AUDIO
    MediaFrameRecord* record_ = nullptr;
    CStreamInfo* streamInfo_ = nullptr;
};

}  // namespace kx
