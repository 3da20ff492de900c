// Reads packets and gives a time to those the container left without any.
//
// A program stream carries times in PES headers, and only in some: the
// library passes a header's times to the packet that begins in that PES
// packet and leaves the others with neither pts nor dts (H.264 key frames
// among them), even when asked to generate presentation times. Clip bounds,
// key-frame times, seeking and the writers all need every packet's times, so
// they are filled in here, in the stream's time base:
// - decoding times of video, in decoding order, between the known ones before
//   and after (one frame step each when the stream runs at a constant rate);
// - presentation times of H.264 pictures from their picture order count:
//   between the pictures of the same sequence with known times shown just
//   before and just after them (in proportion to the counts), or one count
//   step at a time from one of them; a sequence with no known time at all
//   follows the one before it;
// - presentation times of other video that is not reordered: its decoding
//   times;
// - audio: the end of the packet before (or the next known time less the
//   durations in between).
// A filled picture is never decoded after it is shown: writers refuse that.
// Packets that carry a pts or a dts are passed on untouched, so containers
// that store times see no change; but for one case: the library's parser
// hands a PES packet's times to every picture whose end it finds after that
// PES packet was read, so a small picture may carry the times of the one
// that follows it. Of H.264 packets in a row with the same pts and dts only
// the last keeps them; the others are filled in.
// A packet whose time depends on a later packet is held back, and every
// packet read after it with it, so the order of the file is kept; at most
// kMaxHeld packets are held.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "input/H264PacketForm.h"
#include "input/H264PictureOrder.h"

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace kx {

class PacketTimeFill {
public:
    static constexpr size_t kMaxHeld = 600;
    static constexpr size_t kAnchorsKept = 64;
    // How many pictures read after an untimed one may bring the timed
    // picture shown after it.
    static constexpr int64_t kPicturesAwaited = 16;

    explicit PacketTimeFill(AVFormatContext* format) : format_(format) {}
    ~PacketTimeFill();
    PacketTimeFill(const PacketTimeFill&) = delete;
    PacketTimeFill& operator=(const PacketTimeFill&) = delete;

    // The next packet in file order with its times filled where they can be
    // (av_read_frame's contract: 0, or the reading's negative result at the end).
    int Read(AVPacket* packet);

    // After a seek: held packets are dropped and every stream starts afresh.
    void Reset();

private:
    enum class FillRule {
        kNone,          // left as read
        kPictureOrder,  // H.264 video: decoding steps, picture order count
        kDecodingSteps, // other video: decoding steps; pts = dts when not reordered
        kSoundSteps,    // audio: one packet after the other
    };
    struct Anchor {
        int64_t order = 0;
        int64_t pts = 0;
    };
    struct StreamState {
        FillRule rule = FillRule::kNone;
        int64_t step = 0;  // one frame (video) or one packet (audio); 0 when unknown
        bool reordered = false;
        H264PacketForm form;
        std::unique_ptr<H264PictureOrder> order;
        int64_t read = 0;      // packets read since the last reset
        int64_t sequence = 0;  // of the last picture read
        // Settled in decoding order: the last dts and its packet's number.
        std::optional<int64_t> lastDts;
        int64_t lastDtsNumber = 0;
        std::optional<int64_t> soundEnd;  // audio: where the last settled packet ends
        std::map<int64_t, std::deque<Anchor>> anchors;  // per sequence: the last pictures with a known pts
        std::map<int64_t, int64_t> shownEnd;  // per sequence: the end of its last picture shown
        std::map<int64_t, int64_t> firstOrder;  // per sequence: the count of its first picture
        int64_t unitTime = 0;   // time per order step, learned from two anchors (unitTime / unitOrder)
        int64_t unitOrder = 0;
    };
    struct Held {
        AVPacket* packet = nullptr;
        int64_t number = 0;  // place in its stream, decoding order
        std::optional<int64_t> order;
        int64_t sequence = 0;
        bool fill = false;  // came without times
        // H.264: its times are taken as its own once the next packet of the
        // stream is read (see Take).
        bool confirmed = true;
        bool settled = false;
    };

    StreamState& StateOf(int streamIndex);
    void Take(AVPacket* packet);
    void Confirm(Held& held, StreamState& state);
    // Settles what can be, in order per stream; the first `forced` held
    // packets are settled with what is known by now.
    void Settle(size_t forced);
    bool SettleOne(size_t at, bool force);
    bool FillDts(size_t at, StreamState& state, bool force);
    bool FillPictureTime(size_t at, StreamState& state, bool force);
    bool FillSoundTime(size_t at, StreamState& state, bool force);
    static void DecodeBeforeShown(AVPacket* packet, const StreamState& state);
    void Record(const Held& held, StreamState& state);
    // The first held packet after `at` of the same stream for which `has` is true.
    template <typename Has>
    std::optional<size_t> NextOfStream(size_t at, Has has) const;

    AVFormatContext* format_;
    std::deque<Held> held_;
    std::map<int, StreamState> streams_;
    bool ended_ = false;
    int endResult_ = 0;
};

}  // namespace kx
