// Decodes H.264 packets as the source stores them and encodes again the
// pictures shown inside a time window, with libx264 matched to the source
// (profile, level, size, pixel format, aspect, colour), so that the new
// pictures can stand in the copied stream. The encoded group starts with an
// IDR picture carrying its own SPS and PPS under an id the source does not
// use, has no B-frames, and keeps each picture's presentation time; decoding
// times are the presentation times less a fixed delay, the source's own at
// the key frame the group meets, so that decoding times keep rising into the
// copied pictures.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/H264PacketForm.h"

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

namespace kx {

// Why pictures of a stream cannot be encoded again; none when they can.
std::optional<std::string> WhyNotReencodable(const AVCodecParameters* source);

// Owned encoded packets, times in ticks, in the source's packet form.
struct PacketFree {
    void operator()(AVPacket* packet) const;
};
using OwnedPacket = std::unique_ptr<AVPacket, PacketFree>;

class PictureReencoder {
public:
    struct Window {
        int64_t from = 0;        // first presentation time encoded (ticks)
        int64_t to = 0;          // pictures shown from here on are not
        int64_t decodeDelay = 0; // presentation time less decoding time
    };

    // A decoder for `source` (ticks as its time base) and the encoder's
    // settings; the encoder opens at the first picture inside the window.
    // parameterSetId: the SPS and PPS id of the encoded pictures.
    static std::unique_ptr<PictureReencoder> Open(const AVCodecParameters* source, int parameterSetId,
                                                  const Window& window, std::string* problem);
    ~PictureReencoder();
    PictureReencoder(const PictureReencoder&) = delete;
    PictureReencoder& operator=(const PictureReencoder&) = delete;

    // One source packet (times in ticks), in decoding order. False, with the
    // problem kept, when the decoder or the encoder failed.
    bool Feed(const AVPacket* packet);
    // Drains the decoder and the encoder.
    bool Finish();

    // Encoded packets so far, handed over in decoding order.
    std::vector<OwnedPacket> TakeEncoded();
    int64_t EncodedPictures() const { return encodedPictures_; }
    // Presentation time of the first picture taken into the window.
    std::optional<int64_t> FirstPictureTime() const { return firstPicture_; }
    const std::string& Problem() const { return problem_; }

private:
    PictureReencoder() = default;
    bool DrainDecoder();
    bool EncodeFrame(AVFrame* frame);
    bool DrainEncoder();
    bool OpenEncoder(const AVFrame* frame);
    bool Fail(const std::string& what, int averror);

    const AVCodecParameters* source_ = nullptr;
    H264PacketForm form_;
    int parameterSetId_ = 1;
    Window window_;
    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* encoded_ = nullptr;
    std::map<int64_t, int64_t> durations_;  // source presentation time -> duration
    std::vector<OwnedPacket> out_;
    int64_t encodedPictures_ = 0;
    std::optional<int64_t> firstPicture_;
    std::string problem_;
};

}  // namespace kx
