// Copies an H.264 stream from the key frame of an open group of pictures (an
// I picture that is not an IDR picture) as a stream of its own: at a clip's
// start, or behind pictures encoded anew. The key frame is rewritten into an
// IDR picture, the leading pictures after it, which refer to pictures before
// it, are left out (they belong to the clip before, or the encoded pictures
// show their times), and every picture after it is renumbered as in a stream
// that starts at that IDR: frame numbers, order counts, reference list edits
// and reference marking.
//
// Both streams' reference pictures are followed until they can no longer
// differ: the source's (its pictures from before the key frame are counted
// as unknown, every count they may have is followed) and the rewritten one's.
// A picture whose reference lists would differ, and so would decode other
// pictures than the source, is a problem: the cut must then not be made this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input/H264PacketForm.h"
#include "output/H264SliceHeader.h"

namespace kx {

class H264OpenKeySplice {
public:
    // The stream's parameter sets from its extradata (avcC or Annex B).
    H264OpenKeySplice(const uint8_t* extradata, size_t size, H264PacketForm form);

    // One packet of the stream in decoding order, the key frame first.
    // `leftOut`: a leading picture that is not written. `rewritten` receives
    // the packet's new bytes, or stays empty when they do not change (past
    // the stream's next IDR picture). False, with the problem, when the
    // packet cannot be carried over.
    bool Take(const uint8_t* data, size_t size, bool leftOut, std::optional<std::vector<uint8_t>>* rewritten);

    const std::string& Problem() const { return problem_; }
    // The two streams' reference pictures are the same from here on: every
    // later picture only moves its numbers.
    bool Settled() const { return settled_ || done_; }

    // A reference picture from the key frame on.
    struct Reference {
        int64_t number = 0;  // frame number counted on from the key frame's (0)
        int64_t order = 0;   // order count, the key frame's as 0
        bool kept = true;    // false: a leading picture left out
        bool operator==(const Reference&) const = default;
    };

private:
    // The source's references as they may stand: those from before the key
    // frame are not known, only how many may be left.
    struct SourceState {
        int before = 0;
        std::vector<Reference> refs;
        bool operator==(const SourceState&) const = default;
    };
    struct Picture;

    bool TakeKey(Picture& picture);
    bool TakePicture(Picture& picture, bool leftOut);
    bool CheckLists(const Picture& picture, const H264SliceHeader& slice);
    bool MarkSource(const Picture& picture, bool kept);
    bool MarkRewritten(const Picture& picture, H264SliceHeader* marking);
    bool RemapEdits(const Picture& picture, H264SliceHeader* slice);
    void CheckSettled();
    int64_t NewNumber(int64_t number) const;
    bool Fail(std::string why);

    H264PacketForm form_;
    H264SliceSyntax syntax_;
    H264SeqFields seq_;  // the key frame's
    bool started_ = false;
    bool settled_ = false;
    bool done_ = false;  // past an IDR picture or a reset of the numbering
    std::string problem_;

    uint32_t lastFrameNum_ = 0;
    int64_t lastNumber_ = 0;
    int64_t lastReference_ = 0;  // number of the last reference picture
    int64_t prevMsb_ = 0;        // of the last reference picture's order count
    uint32_t prevLsb_ = 0;
    uint32_t lsbShift_ = 0;                   // what the key frame's order count loses to become 0
    std::vector<int64_t> leftOutReferences_;  // their numbers

    std::vector<SourceState> source_;   // every state the source's references may be in
    std::vector<Reference> rewritten_;  // the rewritten stream's references
};

}  // namespace kx
