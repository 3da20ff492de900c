// A clip cut at key frames that starts at the key frame of an H.264 open
// group of pictures (an I picture that is not an IDR picture). Copied as it
// is, the clip starts with a picture that follows pictures it does not hold,
// and clips merged back hold that key frame twice in decoding order, which
// breaks the pictures after it. The key frame is rewritten into an IDR
// picture and the pictures after it renumbered, so that the clip starts a
// stream of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output/H264OpenKeySplice.h"
#include "task/ClipBounds.h"
#include "task/ClipGate.h"
#include "task/FileRecord.h"

struct AVPacket;

namespace kx {

class TaskHost;
class ITDemuxerControl;

class OpenKeyClipStart {
public:
    // None for a clip that starts at the file's start, at an IDR picture or
    // in another codec, or whose pictures the rewriting does not follow (it
    // says so in the log); the clip is then copied as it is. Reads ahead
    // from the clip's start: position the reader again afterwards.
    static std::unique_ptr<OpenKeyClipStart> For(TaskHost& host, ITDemuxerControl* control, const FileRecord& file,
                                                 const ClipBounds& bounds, int capabilities);

    // A packet the clip's gate judged, before it is written: a written video
    // packet is rewritten; a leading picture of the start key frame that the
    // gate left out is followed. False, with the problem, when a packet
    // cannot be carried over.
    bool Pass(AVPacket* packet, PacketFate fate);
    const std::string& Problem() const { return problem_; }

private:
    OpenKeyClipStart(int stream, int64_t keyPts, std::unique_ptr<H264OpenKeySplice> splice)
        : stream_(stream), keyPts_(keyPts), splice_(std::move(splice)) {}

    const int stream_;
    const int64_t keyPts_;
    std::unique_ptr<H264OpenKeySplice> splice_;
    bool started_ = false;
    std::string problem_;
};

}  // namespace kx
