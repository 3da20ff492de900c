#include "output/H264SliceHeader.h"

#include "input/H264NalTypes.h"
#include "input/H264SpsSyntax.h"
#include "input/RbspBitReader.h"
#include "output/RbspEdit.h"

namespace kx {

namespace {

constexpr uint32_t kMaxLog2Minus4 = 12;
constexpr uint32_t kMaxOrderType = 2;
constexpr uint32_t kMaxCycleLength = 255;
constexpr uint32_t kMaxSliceType = 9;
constexpr uint32_t kMaxRefCount = 32;
constexpr uint32_t kEndOfEdits = 3;
constexpr size_t kMaxOps = 66;  // more than any list or marking can hold

int32_t Se(BitCursor& bits) {
    const uint32_t code = bits.Ue();
    const auto magnitude = static_cast<int32_t>((code + 1) / 2);
    return (code & 1) ? magnitude : -magnitude;
}

bool ReadEdits(BitCursor& bits, std::vector<H264ListEdit>* edits) {
    for (;;) {
        H264ListEdit edit;
        edit.idc = bits.Ue();
        if (!bits.Ok() || edit.idc > kEndOfEdits || edits->size() > kMaxOps) return false;
        if (edit.idc == kEndOfEdits) return true;
        edit.value = bits.Ue();
        edits->push_back(edit);
    }
}

bool ReadMarking(BitCursor& bits, std::vector<H264MarkingOp>* ops) {
    for (;;) {
        H264MarkingOp op;
        op.op = bits.Ue();
        if (!bits.Ok() || op.op > 6 || ops->size() > kMaxOps) return false;
        if (op.op == 0) return true;
        if (op.op != 5) op.value = bits.Ue();
        if (op.op == 3) op.frameIndex = bits.Ue();
        ops->push_back(op);
    }
}

// pred_weight_table: read past, as it is copied unchanged.
void SkipWeights(BitCursor& bits, const H264SliceHeader& h, const H264SeqFields& seq) {
    bits.Ue();  // luma denominator
    if (seq.chromaArrayType != 0) bits.Ue();
    const int lists = h.kind == H264SliceKind::kB ? 2 : 1;
    for (int list = 0; list < lists; ++list) {
        for (int i = 0; i < h.refCount[list] && bits.Ok(); ++i) {
            if (bits.Bits(1)) {
                Se(bits);
                Se(bits);
            }
            if (seq.chromaArrayType != 0 && bits.Bits(1))
                for (int j = 0; j < 4; ++j) Se(bits);
        }
    }
}

void WriteEdits(BitWriter& out, const std::vector<H264ListEdit>& edits) {
    for (const auto& edit : edits) {
        out.Ue(edit.idc);
        out.Ue(edit.value);
    }
    out.Ue(kEndOfEdits);
}

}  // namespace

void H264SliceSyntax::TakeUnit(const uint8_t* unit, size_t size) {
    if (size < 2) return;
    const H264NalType type = H264NalTypeOf(unit[0]);
    RbspBitReader bits(unit + 1, size - 1);
    if (type == H264NalType::kSps) {
        H264SeqFields seq;
        const std::optional<H264SpsStart> start = ReadH264SpsStart(bits);
        if (!start) return;
        const uint32_t id = start->id;
        seq.separateColourPlane = start->separateColourPlane;
        seq.chromaArrayType = seq.separateColourPlane ? 0 : static_cast<int>(start->format);
        const uint32_t frameNumBits = bits.Ue();
        const uint32_t orderType = bits.Ue();
        if (!bits.Ok() || id >= seqs_.size() || frameNumBits > kMaxLog2Minus4 || orderType > kMaxOrderType) return;
        seq.log2MaxFrameNum = static_cast<int>(frameNumBits) + 4;
        seq.orderType = static_cast<int>(orderType);
        if (orderType == 0) {
            const uint32_t lsbBits = bits.Ue();
            if (lsbBits > kMaxLog2Minus4) return;
            seq.log2MaxOrderLsb = static_cast<int>(lsbBits) + 4;
        } else if (orderType == 1) {
            seq.deltaOrderAlwaysZero = bits.Flag();
            bits.Se();
            bits.Se();
            const uint32_t cycle = bits.Ue();
            if (cycle > kMaxCycleLength) return;
            for (uint32_t i = 0; i < cycle && bits.Ok(); ++i) bits.Se();
        }
        const uint32_t refFrames = bits.Ue();
        bits.Flag();  // gaps in frame_num allowed
        bits.Ue();
        bits.Ue();
        seq.frameMbsOnly = bits.Flag();
        if (!bits.Ok() || refFrames > kMaxRefCount) return;
        seq.maxRefFrames = static_cast<int>(refFrames);
        seqs_[id] = seq;
    } else if (type == H264NalType::kPps) {
        const uint32_t id = bits.Ue();
        const uint32_t seqId = bits.Ue();
        H264PicFields pic;
        pic.seqId = static_cast<int>(seqId);
        pic.cabac = bits.Flag();
        pic.bottomFieldOrderPresent = bits.Flag();
        pic.sliceGroups = bits.Ue() > 0;
        if (!bits.Ok() || id >= pics_.size() || seqId >= seqs_.size()) return;
        if (!pic.sliceGroups) {
            const uint32_t l0 = bits.Ue();
            const uint32_t l1 = bits.Ue();
            if (l0 >= kMaxRefCount || l1 >= kMaxRefCount) return;
            pic.defaultRefCount = {static_cast<int>(l0) + 1, static_cast<int>(l1) + 1};
            pic.weightedPred = bits.Flag();
            pic.weightedBipred = static_cast<int>(bits.Bits(2));
            bits.Se();
            bits.Se();
            bits.Se();
            pic.deblockingControl = bits.Flag();
            bits.Flag();  // constrained intra prediction
            pic.redundantPicCount = bits.Flag();
        }
        if (!bits.Ok()) return;
        pics_[id] = pic;
    }
}

const H264SeqFields* H264SliceSyntax::Seq(int id) const {
    return id >= 0 && static_cast<size_t>(id) < seqs_.size() && seqs_[id] ? &*seqs_[id] : nullptr;
}

const H264PicFields* H264SliceSyntax::Pic(int id) const {
    return id >= 0 && static_cast<size_t>(id) < pics_.size() && pics_[id] ? &*pics_[id] : nullptr;
}

std::optional<H264SliceHeader> ReadSliceHeader(const std::vector<uint8_t>& rbsp, const H264SliceSyntax& syntax,
                                               std::string* problem) {
    const auto fail = [problem](const char* why) -> std::optional<H264SliceHeader> {
        *problem = why;
        return std::nullopt;
    };
    if (rbsp.empty()) return fail("an empty slice unit");
    H264SliceHeader h;
    h.nalHeader = rbsp[0];
    const H264NalType type = H264NalTypeOf(h.nalHeader);
    if (type != H264NalType::kSlice && type != H264NalType::kIdrSlice) return fail("not a slice unit");
    h.idr = type == H264NalType::kIdrSlice;
    BitCursor bits(rbsp);
    bits.Bits(8);
    bits.Ue();  // first macroblock
    const uint32_t sliceType = bits.Ue();
    const uint32_t picId = bits.Ue();
    if (!bits.Ok() || sliceType > kMaxSliceType) return fail("a damaged slice header");
    h.kind = static_cast<H264SliceKind>(sliceType % 5);
    h.picId = static_cast<int>(picId);
    const H264PicFields* pic = syntax.Pic(h.picId);
    const H264SeqFields* seq = pic ? syntax.Seq(pic->seqId) : nullptr;
    if (!seq) return fail("a slice whose parameter sets were not seen");
    if (pic->sliceGroups) return fail("slice groups");
    h.seq = *seq;
    h.pic = *pic;
    auto& at = h.layout;
    if (seq->separateColourPlane) bits.Bits(2);
    at.frameNumAt = bits.Position();
    h.frameNum = bits.Bits(seq->log2MaxFrameNum);
    at.afterFrameNum = bits.Position();
    if (!seq->frameMbsOnly) {
        h.field = bits.Bits(1) != 0;
        if (h.field) bits.Bits(1);
    }
    at.idrIdAt = bits.Position();
    if (h.idr) h.idrPicId = bits.Ue();
    at.afterIdrId = at.lsbAt = bits.Position();
    if (seq->orderType == 0) {
        h.orderLsb = bits.Bits(seq->log2MaxOrderLsb);
        at.afterLsb = bits.Position();
        if (pic->bottomFieldOrderPresent && !h.field) h.bottomDelta = Se(bits);
    } else {
        at.afterLsb = at.lsbAt;
        if (seq->orderType == 1 && !seq->deltaOrderAlwaysZero) {
            Se(bits);
            if (pic->bottomFieldOrderPresent && !h.field) Se(bits);
        }
    }
    if (pic->redundantPicCount) bits.Ue();
    const bool b = h.kind == H264SliceKind::kB;
    const bool inter = h.kind == H264SliceKind::kP || h.kind == H264SliceKind::kSp || b;
    if (b) bits.Bits(1);  // direct_spatial_mv_pred_flag
    if (inter) {
        h.refCount = pic->defaultRefCount;
        if (bits.Bits(1)) {
            h.refCount[0] = static_cast<int>(bits.Ue()) + 1;
            if (b) h.refCount[1] = static_cast<int>(bits.Ue()) + 1;
        }
        if (!b) h.refCount[1] = 0;
    }
    if (h.refCount[0] > static_cast<int>(kMaxRefCount) || h.refCount[1] > static_cast<int>(kMaxRefCount))
        return fail("a damaged slice header");
    at.editsAt = bits.Position();
    for (int list = 0; list < (b ? 2 : inter ? 1 : 0); ++list) {
        h.modifies[list] = bits.Bits(1) != 0;
        if (h.modifies[list] && !ReadEdits(bits, &h.edits[list])) return fail("a damaged slice header");
    }
    at.weightsAt = bits.Position();
    if ((pic->weightedPred && inter && !b) || (pic->weightedBipred == 1 && b)) SkipWeights(bits, h, *seq);
    at.afterWeights = at.markingAt = bits.Position();
    if (h.IsReference()) {
        if (h.idr) {
            h.noOutputOfPrior = bits.Bits(1) != 0;
            h.longTermReference = bits.Bits(1) != 0;
        } else {
            h.adaptiveMarking = bits.Bits(1) != 0;
            if (h.adaptiveMarking && !ReadMarking(bits, &h.marking)) return fail("a damaged slice header");
        }
    }
    at.afterMarking = bits.Position();
    if (pic->cabac && h.kind != H264SliceKind::kI && h.kind != H264SliceKind::kSi) bits.Ue();
    Se(bits);  // slice_qp_delta
    if (h.kind == H264SliceKind::kSp || h.kind == H264SliceKind::kSi) {
        if (h.kind == H264SliceKind::kSp) bits.Bits(1);
        Se(bits);
    }
    if (pic->deblockingControl && bits.Ue() != 1) {
        Se(bits);
        Se(bits);
    }
    at.headerEnd = bits.Position();
    if (!bits.Ok() || at.headerEnd >= bits.Size()) return fail("a slice header that runs past its unit");
    return h;
}

std::vector<uint8_t> WriteSlice(const H264SliceHeader& h, const std::vector<uint8_t>& rbsp) {
    const H264SeqFields* seq = &h.seq;
    const H264PicFields* pic = &h.pic;
    const auto& at = h.layout;
    BitWriter out;
    const H264NalType type = h.idr ? H264NalType::kIdrSlice : H264NalType::kSlice;
    out.Bits(static_cast<uint8_t>((h.nalHeader & ~kH264NalTypeMask) | static_cast<uint8_t>(type)), 8);
    out.Copy(rbsp, 8, at.frameNumAt);
    out.Bits(h.frameNum, seq->log2MaxFrameNum);
    out.Copy(rbsp, at.afterFrameNum, at.idrIdAt);
    if (h.idr) out.Ue(h.idrPicId);
    if (seq->orderType == 0) out.Bits(h.orderLsb, seq->log2MaxOrderLsb);
    out.Copy(rbsp, at.afterLsb, at.editsAt);
    const bool b = h.kind == H264SliceKind::kB;
    const bool inter = h.kind == H264SliceKind::kP || h.kind == H264SliceKind::kSp || b;
    for (int list = 0; list < (b ? 2 : inter ? 1 : 0); ++list) {
        out.Bits(h.modifies[list] ? 1 : 0, 1);
        if (h.modifies[list]) WriteEdits(out, h.edits[list]);
    }
    out.Copy(rbsp, at.weightsAt, at.afterWeights);
    if (h.IsReference()) {
        if (h.idr) {
            out.Bits(h.noOutputOfPrior ? 1 : 0, 1);
            out.Bits(h.longTermReference ? 1 : 0, 1);
        } else {
            out.Bits(h.adaptiveMarking ? 1 : 0, 1);
            if (h.adaptiveMarking) {
                for (const auto& op : h.marking) {
                    out.Ue(op.op);
                    if (op.op != 5) out.Ue(op.value);
                    if (op.op == 3) out.Ue(op.frameIndex);
                }
                out.Ue(0);
            }
        }
    }
    out.Copy(rbsp, at.afterMarking, at.headerEnd);
    if (pic->cabac) {
        // The slice data starts at a byte, behind cabac_alignment_one_bits.
        while (!out.Aligned()) out.Bits(1, 1);
        out.Copy(rbsp, (at.headerEnd + 7) / 8 * 8, rbsp.size() * 8);
    } else {
        out.Copy(rbsp, at.headerEnd, StopBitPosition(rbsp));
        out.Trail();
    }
    return out.Bytes();
}

}  // namespace kx
