// Decodes H.264 or HEVC packets as the source stores them and encodes again
// the pictures shown inside a time window, with libx264 or libx265 matched to
// the source (profile, level, size, pixel format, aspect, colour), so that the
// new pictures can stand in the copied stream. The encoded group starts with
// an IDR picture whose parameter sets have ids the source does not use, has
// no B-frames, and keeps each picture's presentation time; decoding
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
#include "media/OwnedPacket.h"
#include "output/HevcParameterSetIds.h"

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

namespace kx {

// Why pictures of a stream cannot be encoded again; none when they can.
std::optional<std::string> WhyNotReencodable(const AVCodecParameters* source);

// How pictures of a source are encoded: everything the encoder's parameter
// sets depend on, so that the sets are known before any picture is.
struct EncoderSettings {
    const AVCodecParameters* source = nullptr;
    int frameRateNum = 25;
    int frameRateDen = 1;
    int parameterSetId = 1;  // H.264: of the SPS and the PPS
    HevcSetIds hevcIds;      // HEVC: what the encoder's sets and slices are renumbered to
    // HEVC: the encoder's sets as the stream description carries them; the
    // encoder's first picture carries its own in-band only when they differ.
    std::vector<uint8_t> describedSets;
};

// The parameter sets (Annex B, renumbered) the encoder gives pictures under `settings`;
// empty, with the problem, when it cannot be opened.
std::vector<uint8_t> EncoderParameterSets(const EncoderSettings& settings, std::string* problem);

class PictureReencoder {
public:
    struct Window {
        int64_t from = 0;         // first presentation time encoded (ticks)
        int64_t to = 0;           // pictures shown from here on are not
        int64_t decodeDelay = 0;  // presentation time less decoding time
    };

    // A decoder for the settings' source (ticks as its time base); the
    // encoder opens at the first picture inside the window.
    static std::unique_ptr<PictureReencoder> Open(const EncoderSettings& settings, const Window& window,
                                                  std::string* problem);
    ~PictureReencoder();
    PictureReencoder(const PictureReencoder&) = delete;
    PictureReencoder& operator=(const PictureReencoder&) = delete;

    // One source packet (times in ticks), in decoding order. False, with the
    // problem kept, when the decoder or the encoder failed.
    bool Feed(const AVPacket* packet);
    // Starts the window (opened with `from` at its maximum, so that pictures
    // are decoded but none encoded) once it is known where it starts.
    void StartWindow(int64_t from, int64_t decodeDelay) {
        window_.from = from;
        window_.decodeDelay = decodeDelay;
    }
    // Drains the decoder and the encoder.
    bool Finish();
    // Ends the coded video sequence after the last encoded picture not yet
    // taken (HEVC), so that the copied CRA picture after it starts a new one.
    bool EndCodedSequence();

    // Encoded packets so far, handed over in decoding order: times in ticks,
    // data in the source's packet form.
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
    bool IsHevc() const;
    // Outside the window and referred to by no later picture: never needed.
    bool Unneeded(const AVPacket* packet) const;
    // The encoder's packet in the source's form, HEVC ids renumbered.
    std::vector<uint8_t> InSourceForm(const uint8_t* data, size_t size);

    EncoderSettings settings_;
    H264PacketForm form_;
    Window window_;
    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* keyFrame_ = nullptr;  // the first decoded with HDR metadata, until the encoder opens
    AVPacket* encoded_ = nullptr;
    std::optional<int> hevcHighestTemporalId_;  // HEVC: none when the description does not tell
    std::map<int64_t, int64_t> durations_;  // source presentation time -> duration
    std::vector<OwnedPacket> out_;
    int64_t encodedPictures_ = 0;
    std::optional<int64_t> firstPicture_;
    std::vector<uint8_t> inBandSets_;  // HEVC: in front of the first encoded picture
    std::string problem_;
};

}  // namespace kx
