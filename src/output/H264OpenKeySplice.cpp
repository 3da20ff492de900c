#include "output/H264OpenKeySplice.h"

#include <algorithm>

#include "input/H264NalTypes.h"
#include "output/H264BitstreamForms.h"
#include "output/RbspEdit.h"

namespace kx {

namespace {

constexpr uint8_t kAvcCVersion = 1;
constexpr uint32_t kIdrPicId = 1;  // not the encoded run's, whose IDR picture may come just before

enum class MarkingOp : uint32_t {
    kShortTermUnused = 1,
    kLongTermUnused = 2,
    kToLongTerm = 3,
    kMaxLongTerm = 4,
    kReset = 5,
    kCurrentToLongTerm = 6
};
enum class ListEdit : uint32_t { kSubtract = 0, kAdd = 1, kLongTerm = 2 };

// A slot of a reference list: a picture from the key frame on by its number,
// one from before it, or none.
constexpr int64_t kBeforeKey = -1;
constexpr int64_t kNoPicture = -2;

struct UnitSpan {
    size_t offset = 0;  // of the header byte
    size_t size = 0;
};

std::vector<UnitSpan> UnitsOf(const uint8_t* data, size_t size, H264PacketForm form) {
    std::vector<UnitSpan> units;
    if (form.framing == H264Framing::LengthPrefixed) {
        const auto prefix = static_cast<size_t>(form.lengthSize);
        if (prefix < 1 || prefix > 4) return units;
        for (size_t pos = 0; pos + prefix < size;) {
            size_t length = 0;
            for (size_t k = 0; k < prefix; ++k) length = (length << 8) | data[pos + k];
            pos += prefix;
            if (length == 0 || length > size - pos) return {};
            units.push_back({pos, length});
            pos += length;
        }
        return units;
    }
    for (auto unit = FindNalUnit(data, data + size); unit; unit = FindNalUnit(unit->data + unit->size, data + size))
        units.push_back({static_cast<size_t>(unit->data - data), unit->size});
    return units;
}

// The units of an avcC record, or of Annex B extradata.
void ForEachExtradataUnit(const uint8_t* data, size_t size, const std::function<void(const uint8_t*, size_t)>& take) {
    if (!data || size == 0) return;
    if (data[0] != kAvcCVersion) {
        for (const UnitSpan& unit : UnitsOf(data, size, kAnnexBForm)) take(data + unit.offset, unit.size);
        return;
    }
    ForEachAvcCUnit(data, size, take);
}

uint32_t Modulo(int64_t value, int bits) { return static_cast<uint32_t>(value & ((int64_t{1} << bits) - 1)); }

// The initial list (frames, short-term references only): by descending
// number for P slices, by order count around the current picture's for B
// slices. Pictures from before the key frame come last among the older ones.
std::vector<int64_t> InitialList(const std::vector<H264OpenKeySplice::Reference>& refs, int before, bool b, int list,
                                 int64_t order) {
    std::vector<const H264OpenKeySplice::Reference*> sorted;
    for (const auto& ref : refs) sorted.push_back(&ref);
    std::vector<int64_t> out;
    const auto olderFirst = [&] {
        std::vector<const H264OpenKeySplice::Reference*> older;
        for (const auto* ref : sorted)
            if (ref->order < order) older.push_back(ref);
        std::sort(older.begin(), older.end(), [](auto* x, auto* y) { return x->order > y->order; });
        for (const auto* ref : older) out.push_back(ref->number);
        out.insert(out.end(), static_cast<size_t>(before), kBeforeKey);
    };
    const auto laterFirst = [&] {
        std::vector<const H264OpenKeySplice::Reference*> later;
        for (const auto* ref : sorted)
            if (ref->order > order) later.push_back(ref);
        std::sort(later.begin(), later.end(), [](auto* x, auto* y) { return x->order < y->order; });
        for (const auto* ref : later) out.push_back(ref->number);
    };
    if (!b) {
        std::sort(sorted.begin(), sorted.end(), [](auto* x, auto* y) { return x->number > y->number; });
        for (const auto* ref : sorted) out.push_back(ref->number);
        out.insert(out.end(), static_cast<size_t>(before), kBeforeKey);
    } else if (list == 0) {
        olderFirst();
        laterFirst();
    } else {
        laterFirst();
        olderFirst();
    }
    return out;
}

}  // namespace

struct H264OpenKeySplice::Picture {
    const uint8_t* data = nullptr;
    std::vector<UnitSpan> units;
    struct Slice {
        size_t unit = 0;
        std::vector<uint8_t> rbsp;
        H264SliceHeader header;
    };
    std::vector<Slice> slices;
    int64_t number = 0;
    int64_t order = 0;
    bool reference = false;
};

H264OpenKeySplice::H264OpenKeySplice(const uint8_t* extradata, size_t size, H264PacketForm form) : form_(form) {
    ForEachExtradataUnit(extradata, size, [this](const uint8_t* unit, size_t n) { syntax_.TakeUnit(unit, n); });
}

bool H264OpenKeySplice::Fail(std::string why) {
    problem_ = std::move(why);
    return false;
}

int64_t H264OpenKeySplice::NewNumber(int64_t number) const {
    const auto before =
        std::count_if(leftOutReferences_.begin(), leftOutReferences_.end(), [number](int64_t n) { return n < number; });
    return number - before;
}

bool H264OpenKeySplice::Take(const uint8_t* data, size_t size, bool leftOut,
                             std::optional<std::vector<uint8_t>>* rewritten) {
    rewritten->reset();
    if (!problem_.empty()) return false;
    if (done_) return true;
    Picture picture;
    picture.data = data;
    picture.units = UnitsOf(data, size, form_);
    for (size_t i = 0; i < picture.units.size(); ++i) {
        const uint8_t* unit = data + picture.units[i].offset;
        const H264NalType type = H264NalTypeOf(unit[0]);
        if (type != H264NalType::kSlice && type != H264NalType::kIdrSlice) {
            syntax_.TakeUnit(unit, picture.units[i].size);
            continue;
        }
        if (type == H264NalType::kIdrSlice && started_) {
            done_ = true;  // the source starts afresh: nothing to renumber from here on
            return true;
        }
        Picture::Slice slice;
        slice.unit = i;
        slice.rbsp = Unescape(unit, picture.units[i].size);
        auto header = ReadSliceHeader(slice.rbsp, syntax_, &problem_);
        if (!header) return false;
        slice.header = std::move(*header);
        picture.slices.push_back(std::move(slice));
    }
    if (picture.slices.empty()) return true;
    if (!(started_ ? TakePicture(picture, leftOut) : TakeKey(picture))) return false;
    if (leftOut) return true;

    // The packet again, its slices rewritten, everything else as it was.
    std::vector<uint8_t> out;
    out.reserve(size + 16);
    size_t copied = 0;
    size_t next = 0;
    for (size_t i = 0; i < picture.units.size(); ++i) {
        const UnitSpan& unit = picture.units[i];
        const bool isSlice = next < picture.slices.size() && picture.slices[next].unit == i;
        if (!isSlice) continue;
        const auto& slice = picture.slices[next++];
        const std::vector<uint8_t> escaped = Escape(WriteSlice(slice.header, slice.rbsp));
        if (escaped.empty()) return Fail("a slice could not be written again");
        if (form_.framing == H264Framing::LengthPrefixed) {
            const auto prefix = static_cast<size_t>(form_.lengthSize);
            if (escaped.size() >= (uint64_t{1} << (8 * prefix)))
                return Fail("a rewritten slice outgrows its length field");
            out.insert(out.end(), data + copied, data + unit.offset - prefix);
            for (size_t k = prefix; k > 0; --k) out.push_back(static_cast<uint8_t>(escaped.size() >> (8 * (k - 1))));
        } else {
            out.insert(out.end(), data + copied, data + unit.offset);
        }
        out.insert(out.end(), escaped.begin(), escaped.end());
        copied = unit.offset + unit.size;
    }
    out.insert(out.end(), data + copied, data + size);
    *rewritten = std::move(out);
    return true;
}

bool H264OpenKeySplice::TakeKey(Picture& picture) {
    const H264SliceHeader& first = picture.slices.front().header;
    seq_ = first.seq;
    if (seq_.orderType == 1) return Fail("its order counts are coded in cycles");
    for (const auto& slice : picture.slices) {
        const H264SliceHeader& h = slice.header;
        if (h.kind != H264SliceKind::kI) return Fail("the key frame is not an I picture throughout");
        if (!h.IsReference() || h.adaptiveMarking) return Fail("the key frame is not an ordinary reference picture");
        if (h.field) return Fail("the key frame is a field picture");
        if (h.seq != seq_) return Fail("the key frame's slices use different sequence parameter sets");
    }
    started_ = true;
    lastFrameNum_ = first.frameNum;
    lastNumber_ = 0;
    lastReference_ = 0;
    prevMsb_ = 0;
    prevLsb_ = first.orderLsb;
    lsbShift_ = Modulo(int64_t{first.orderLsb} + std::min(0, first.bottomDelta), seq_.log2MaxOrderLsb);
    picture.number = 0;
    picture.order = 0;
    rewritten_ = {Reference{0, 0, true}};
    source_.clear();
    for (int before = 0; before < std::max(seq_.maxRefFrames, 1); ++before)
        source_.push_back(SourceState{before, rewritten_});
    for (auto& slice : picture.slices) {
        H264SliceHeader& h = slice.header;
        h.idr = true;
        h.idrPicId = kIdrPicId;
        h.frameNum = 0;
        h.orderLsb = Modulo(int64_t{h.orderLsb} - lsbShift_, seq_.log2MaxOrderLsb);
        h.noOutputOfPrior = false;
        h.longTermReference = false;
    }
    return true;
}

bool H264OpenKeySplice::TakePicture(Picture& picture, bool leftOut) {
    const H264SliceHeader& first = picture.slices.front().header;
    for (const auto& slice : picture.slices)
        if (slice.header.seq != seq_)
            return Fail("the pictures after the key frame use another sequence parameter set");
    if (first.field) return Fail("field pictures");
    picture.reference = first.IsReference();
    const int64_t maxFrameNum = int64_t{1} << seq_.log2MaxFrameNum;
    picture.number = lastNumber_ + (int64_t{first.frameNum} - lastFrameNum_ + maxFrameNum) % maxFrameNum;
    lastNumber_ = picture.number;
    lastFrameNum_ = first.frameNum;
    // A gap stands for pictures the references would count: not followed.
    if (picture.number != lastReference_ && picture.number != lastReference_ + 1)
        return Fail("gaps in its frame numbers");
    if (picture.reference) lastReference_ = picture.number;
    if (seq_.orderType == 0) {
        const int64_t maxLsb = int64_t{1} << seq_.log2MaxOrderLsb;
        int64_t msb = prevMsb_;
        const int64_t lsb = first.orderLsb;
        if (lsb < prevLsb_ && prevLsb_ - lsb >= maxLsb / 2)
            msb += maxLsb;
        else if (lsb > prevLsb_ && lsb - prevLsb_ > maxLsb / 2)
            msb -= maxLsb;
        picture.order = msb + lsb - lsbShift_ + std::min(0, first.bottomDelta);
        if (picture.reference) {
            prevMsb_ = msb;
            prevLsb_ = first.orderLsb;
        }
    } else {
        picture.order = 2 * picture.number - (picture.reference ? 0 : 1);
    }
    if (leftOut) {
        if (Settled()) return Fail("a leading picture comes long after the key frame");
        if (picture.reference) {
            if (!MarkSource(picture, false)) return false;
            leftOutReferences_.push_back(picture.number);
        }
        return true;
    }
    const bool resets = std::any_of(first.marking.begin(), first.marking.end(), [](const H264MarkingOp& op) {
        return op.op == static_cast<uint32_t>(MarkingOp::kReset);
    });
    if (resets && !settled_) return Fail("the numbering is reset right after the key frame");
    const int64_t number = NewNumber(picture.number);
    // Numbers that count back past a left-out picture change even once
    // the references are settled: every edit and marking is renumbered.
    for (auto& slice : picture.slices) {
        H264SliceHeader& h = slice.header;
        if (!settled_ && !CheckLists(picture, h)) return false;
        if (!RemapEdits(picture, &h)) return false;
        h.frameNum = Modulo(number, seq_.log2MaxFrameNum);
        h.orderLsb = Modulo(int64_t{h.orderLsb} - lsbShift_, seq_.log2MaxOrderLsb);
    }
    if (picture.reference) {
        if (!settled_ && !MarkSource(picture, true)) return false;
        // Every slice of a picture carries the same marking.
        H264SliceHeader marking = picture.slices.front().header;
        if (!MarkRewritten(picture, &marking)) return false;
        for (auto& slice : picture.slices) {
            slice.header.adaptiveMarking = marking.adaptiveMarking;
            slice.header.marking = marking.marking;
        }
        if (!settled_) CheckSettled();
    }
    if (resets) done_ = true;  // later pictures count from this one, as in the source
    return true;
}

// Marks the source's references after `picture` as the source does, in every
// state they may be in; states the marking rules out are dropped.
bool H264OpenKeySplice::MarkSource(const Picture& picture, bool kept) {
    const H264SliceHeader& h = picture.slices.front().header;
    const int capacity = std::max(seq_.maxRefFrames, 1);
    std::vector<SourceState> next;
    for (SourceState state : source_) {
        bool possible = true;
        if (h.adaptiveMarking) {
            for (const H264MarkingOp& op : h.marking) {
                if (op.op == static_cast<uint32_t>(MarkingOp::kMaxLongTerm)) continue;
                if (op.op != static_cast<uint32_t>(MarkingOp::kShortTermUnused))
                    return Fail("long-term reference pictures");
                const int64_t target = picture.number - (int64_t{op.value} + 1);
                const auto it = std::find_if(state.refs.begin(), state.refs.end(),
                                             [&](const Reference& r) { return r.number == target; });
                if (it != state.refs.end())
                    state.refs.erase(it);
                else if (target < 0 && state.before > 0)
                    --state.before;
                else
                    possible = false;
            }
        } else if (static_cast<int>(state.refs.size()) + state.before >= capacity) {
            // The sliding window: the oldest goes, and those before the key frame are older.
            if (state.before > 0)
                --state.before;
            else if (!state.refs.empty())
                state.refs.erase(state.refs.begin());
        }
        if (static_cast<int>(state.refs.size()) + state.before + 1 > capacity) possible = false;
        if (!possible) continue;
        state.refs.push_back(Reference{picture.number, picture.order, kept});
        if (std::find(next.begin(), next.end(), state) == next.end()) next.push_back(std::move(state));
    }
    if (next.empty()) return Fail("the reference marking after the key frame is not one the source can have");
    source_ = std::move(next);
    return true;
}

// The rewritten stream's marking: operations on pictures it does not hold
// are left out, the others renumbered. Once settled, the two streams hold the
// same pictures and only the numbers change.
bool H264OpenKeySplice::MarkRewritten(const Picture& picture, H264SliceHeader* marking) {
    const int capacity = std::max(seq_.maxRefFrames, 1);
    const int64_t current = NewNumber(picture.number);
    if (marking->adaptiveMarking) {
        std::vector<H264MarkingOp> kept;
        for (const H264MarkingOp& op : marking->marking) {
            if (op.op == static_cast<uint32_t>(MarkingOp::kMaxLongTerm)) {
                kept.push_back(op);
                continue;
            }
            if (op.op == static_cast<uint32_t>(MarkingOp::kReset)) {
                kept.push_back(op);
                continue;
            }
            if (op.op != static_cast<uint32_t>(MarkingOp::kShortTermUnused))
                return Fail("long-term reference pictures");
            const int64_t target = picture.number - (int64_t{op.value} + 1);
            const auto it = std::find_if(rewritten_.begin(), rewritten_.end(),
                                         [&](const Reference& r) { return r.number == target; });
            if (it == rewritten_.end()) {
                if (settled_) return Fail("a marking refers to a picture the stream no longer holds");
                continue;
            }
            H264MarkingOp renumbered = op;
            renumbered.value = static_cast<uint32_t>(current - NewNumber(target) - 1);
            kept.push_back(renumbered);
            rewritten_.erase(it);
        }
        marking->marking = kept;
        marking->adaptiveMarking = !kept.empty();
    }
    if (!marking->adaptiveMarking && static_cast<int>(rewritten_.size()) >= capacity)
        rewritten_.erase(rewritten_.begin());
    rewritten_.push_back(Reference{picture.number, picture.order, true});
    return true;
}

// The picture `predicted` names among the maxFrameNum before `current`.
static int64_t NamedPicture(int64_t predicted, int64_t current, int64_t maxFrameNum) {
    int64_t target = predicted;
    while (target >= current) target -= maxFrameNum;
    while (target < current - maxFrameNum) target += maxFrameNum;
    return target;
}

// Builds a slice's reference lists in both streams; they must hold the same
// pictures, none from before the key frame nor left out.
bool H264OpenKeySplice::CheckLists(const Picture& picture, const H264SliceHeader& h) {
    const bool b = h.kind == H264SliceKind::kB;
    const int lists = b ? 2 : (h.kind == H264SliceKind::kP || h.kind == H264SliceKind::kSp) ? 1 : 0;
    const int64_t maxFrameNum = int64_t{1} << seq_.log2MaxFrameNum;
    for (int list = 0; list < lists; ++list) {
        const auto build = [&](const std::vector<Reference>& refs, int before) -> std::optional<std::vector<int64_t>> {
            std::vector<int64_t> entries = InitialList(refs, before, b, list, picture.order);
            if (b && list == 1 && entries.size() > 1 && entries == InitialList(refs, before, b, 0, picture.order))
                std::swap(entries[0], entries[1]);
            const auto active = static_cast<size_t>(h.refCount[list]);
            entries.resize(active + 1, kNoPicture);
            int64_t predicted = picture.number;
            size_t index = 0;
            for (const H264ListEdit& edit : h.edits[list]) {
                if (edit.idc == static_cast<uint32_t>(ListEdit::kLongTerm)) return std::nullopt;
                const int64_t step = int64_t{edit.value} + 1;
                predicted += edit.idc == static_cast<uint32_t>(ListEdit::kSubtract) ? -step : step;
                int64_t target = NamedPicture(predicted, picture.number, maxFrameNum);
                if (target < 0) target = kBeforeKey;
                entries.insert(entries.begin() + static_cast<ptrdiff_t>(index++), target);
                if (target != kBeforeKey)
                    entries.erase(std::remove(entries.begin() + static_cast<ptrdiff_t>(index), entries.end(), target),
                                  entries.end());
                entries.resize(active + 1, kNoPicture);
            }
            entries.resize(active);
            return entries;
        };
        std::optional<std::vector<int64_t>> source;
        for (const SourceState& state : source_) {
            const auto entries = build(state.refs, state.before);
            if (!entries) return Fail("long-term reference pictures");
            if (source && *source != *entries)
                return Fail("a picture's references after the key frame depend on pictures before it");
            source = entries;
        }
        for (int64_t entry : *source) {
            const bool left = std::count(leftOutReferences_.begin(), leftOutReferences_.end(), entry) != 0;
            if (entry < 0 || left) return Fail("a picture after the key frame refers to one before it or left out");
        }
        if (build(rewritten_, 0) != source)
            return Fail("a picture's references would change with the leading pictures left out");
    }
    return true;
}

// Renumbers a slice's list edits: the same pictures, counted in the rewritten stream.
bool H264OpenKeySplice::RemapEdits(const Picture& picture, H264SliceHeader* h) {
    const int64_t maxFrameNum = int64_t{1} << seq_.log2MaxFrameNum;
    for (auto& edits : h->edits) {
        int64_t predicted = picture.number;
        int64_t newPredicted = NewNumber(picture.number);
        for (H264ListEdit& edit : edits) {
            const int64_t step = int64_t{edit.value} + 1;
            predicted += edit.idc == static_cast<uint32_t>(ListEdit::kSubtract) ? -step : step;
            const int64_t named = NamedPicture(predicted, picture.number, maxFrameNum);
            if (named < 0 || std::count(leftOutReferences_.begin(), leftOutReferences_.end(), named))
                return Fail("a picture after the key frame refers to one before it or left out");
            const int64_t target = NewNumber(named);
            // The same picture again (a second weighting of it) is a whole
            // turn of the numbers away.
            const int64_t back = target == newPredicted ? maxFrameNum : newPredicted - target;
            edit.idc = static_cast<uint32_t>(back > 0 ? ListEdit::kSubtract : ListEdit::kAdd);
            edit.value = static_cast<uint32_t>((back > 0 ? back : -back) - 1);
            newPredicted = target;
        }
    }
    return true;
}

void H264OpenKeySplice::CheckSettled() {
    if (source_.size() != 1 || source_.front().before != 0) return;
    const std::vector<Reference>& refs = source_.front().refs;
    if (refs != rewritten_) return;
    settled_ = std::all_of(refs.begin(), refs.end(), [](const Reference& r) { return r.kept; });
}

}  // namespace kx
