#include "input/VideoKeyFrame.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

#include "input/Av1KeyFrame.h"
#include "input/H264KeyFrame.h"
#include "input/HevcKeyFrame.h"
#include "input/Vp9KeyFrame.h"

namespace kx {

BitstreamForm BitstreamFormOfStream(const AVCodecParameters* parameters) {
    BitstreamForm form;
    if (!parameters) return form;
    const uint8_t* extradata = parameters->extradata;
    const size_t size = parameters->extradata_size > 0 ? static_cast<size_t>(parameters->extradata_size) : 0;
    switch (parameters->codec_id) {
        case AV_CODEC_ID_H264:
            form.nalUnits = H264FormOfStream(parameters);
            break;
        case AV_CODEC_ID_HEVC:
            form.nalUnits = HevcFormOfExtradata(extradata, size);
            break;
        case AV_CODEC_ID_AV1:
            form.av1StillPictures = Av1StillPicturesOfExtradata(extradata, size);
            break;
        default:
            break;
    }
    return form;
}

bool IsKeyFrameByBitstream(AVCodecID codec, const uint8_t* data, int size, const BitstreamForm& form) {
    switch (codec) {
        case AV_CODEC_ID_H264:
            return IsH264KeyFrame(data, size, form.nalUnits);
        case AV_CODEC_ID_HEVC:
            return IsHevcKeyFrame(data, size, form.nalUnits);
        case AV_CODEC_ID_AV1:
            return IsAv1KeyFrame(data, size, form.av1StillPictures);
        case AV_CODEC_ID_VP9:
            return IsVp9KeyFrame(data, size);
        default:
            return false;
    }
}

}  // namespace kx
