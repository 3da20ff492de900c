// The slice header of an H.264 picture, read whole and written again with a
// few fields changed: its frame number, order count, IDR form, reference
// list modifications and reference marking. Every other part of the header
// and the slice data are copied bit for bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// The fields of the sequence and picture parameter sets that the syntax of
// a slice header depends on.
struct H264SeqFields {
    int chromaArrayType = 1;
    bool separateColourPlane = false;
    int log2MaxFrameNum = 4;
    int orderType = 0;  // pic_order_cnt_type
    int log2MaxOrderLsb = 4;
    bool deltaOrderAlwaysZero = false;
    int maxRefFrames = 1;
    bool frameMbsOnly = true;
    bool operator==(const H264SeqFields&) const = default;
};

struct H264PicFields {
    int seqId = 0;
    bool cabac = false;
    bool bottomFieldOrderPresent = false;
    bool sliceGroups = false;  // more than one: not read
    std::array<int, 2> defaultRefCount{1, 1};
    bool weightedPred = false;
    int weightedBipred = 0;
    bool deblockingControl = false;
    bool redundantPicCount = false;
};

// The parameter sets a stream has shown so far, by id.
class H264SliceSyntax {
public:
    // An SPS or PPS unit (header byte first); other units are left alone.
    void TakeUnit(const uint8_t* unit, size_t size);
    const H264SeqFields* Seq(int id) const;
    const H264PicFields* Pic(int id) const;

private:
    std::array<std::optional<H264SeqFields>, 32> seqs_;
    std::array<std::optional<H264PicFields>, 256> pics_;
};

enum class H264SliceKind { kP, kB, kI, kSp, kSi };

// modification_of_pic_nums_idc and its value.
struct H264ListEdit {
    uint32_t idc = 3;
    uint32_t value = 0;
};

// memory_management_control_operation and its values.
struct H264MarkingOp {
    uint32_t op = 0;
    uint32_t value = 0;       // difference_of_pic_nums_minus1, long_term_pic_num or max index
    uint32_t frameIndex = 0;  // long_term_frame_idx (operations 3 and 6)
};

struct H264SliceHeader {
    // The parameter sets' fields the header was read with.
    H264SeqFields seq;
    H264PicFields pic;
    uint8_t nalHeader = 0;
    H264SliceKind kind = H264SliceKind::kI;
    int picId = 0;
    uint32_t frameNum = 0;
    bool field = false;
    bool idr = false;
    uint32_t idrPicId = 0;
    uint32_t orderLsb = 0;
    int32_t bottomDelta = 0;
    std::array<int, 2> refCount{0, 0};  // active entries of each list
    std::array<bool, 2> modifies{false, false};
    std::array<std::vector<H264ListEdit>, 2> edits;
    bool noOutputOfPrior = false;
    bool longTermReference = false;
    bool adaptiveMarking = false;
    std::vector<H264MarkingOp> marking;

    bool IsReference() const { return (nalHeader & 0x60) != 0; }

    // Where the parts copied unchanged lie in the unit's payload bits.
    struct Layout {
        size_t frameNumAt = 0, afterFrameNum = 0;
        size_t idrIdAt = 0, afterIdrId = 0;
        size_t lsbAt = 0, afterLsb = 0;
        size_t editsAt = 0, weightsAt = 0, afterWeights = 0;
        size_t markingAt = 0, afterMarking = 0, headerEnd = 0;
    } layout;
};

// Reads the header of a slice unit (header byte first, emulation prevention
// taken out); none, with the reason, for a header this reader does not
// follow (slice groups, another unit type) or that runs past its end.
std::optional<H264SliceHeader> ReadSliceHeader(const std::vector<uint8_t>& rbsp, const H264SliceSyntax& syntax,
                                               std::string* problem);

// The unit again with `header`'s values in place of those `rbsp` was read
// with, the slice data copied after it.
std::vector<uint8_t> WriteSlice(const H264SliceHeader& header, const std::vector<uint8_t>& rbsp);

}  // namespace kx
