// H264PictureOrder on arbitrary bytes: the first byte picks the packet form,
// the next part is taken as extradata, the rest as packets (each behind a
// one-byte size). Stays inside the buffers, answers the same for the same
// calls, and a Reset forgets the order history but not the parameter sets.
// AnnexBRemnantLength runs on every packet: what it cuts off ends right
// before a start code.
#include <optional>
#include <vector>

#include "FuzzSupport.h"
#include "input/AnnexBRemnant.h"
#include "input/H264PictureOrder.h"

namespace {

const kx::H264PacketForm kForms[] = {kx::kAnnexBForm, kx::LengthPrefixedForm(1), kx::LengthPrefixedForm(2),
                                     kx::LengthPrefixedForm(4)};

struct Chunk {
    const uint8_t* data;
    size_t size;
};

std::vector<std::optional<kx::H264Picture>> Run(const Chunk& extradata, const std::vector<Chunk>& packets,
                                                kx::H264PacketForm form, size_t resetAt) {
    kx::H264PictureOrder order;
    order.TakeExtradata(extradata.data, extradata.size);
    std::vector<std::optional<kx::H264Picture>> out;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == resetAt) order.Reset();
        out.push_back(order.Next(packets[i].data, packets[i].size, form));
    }
    return out;
}

bool Same(const std::optional<kx::H264Picture>& a, const std::optional<kx::H264Picture>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->order == b->order && a->startsSequence == b->startsSequence);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const kx::H264PacketForm form = kForms[data[0] % 4];
    const size_t extradataSize = data[1] <= size - 2 ? data[1] : size - 2;
    const Chunk extradata{data + 2, extradataSize};
    std::vector<Chunk> packets;
    for (size_t pos = 2 + extradataSize; pos < size;) {
        const size_t length = data[pos] <= size - pos - 1 ? data[pos] : size - pos - 1;
        packets.push_back({data + pos + 1, length});
        pos += 1 + length;
    }

    for (const Chunk& p : packets) {
        const size_t cut = kx::AnnexBRemnantLength(p.data, p.size);
        KX_FUZZ_CHECK(cut <= p.size);
        if (cut > 0) {
            KX_FUZZ_CHECK(cut + 3 <= p.size);
            const uint8_t* code = p.data + cut;
            const bool four = code[0] == 0 && code[1] == 0 && code[2] == 0 && cut + 4 <= p.size && code[3] == 1;
            const bool three = code[0] == 0 && code[1] == 0 && code[2] == 1;
            KX_FUZZ_CHECK(four || three);
        }
    }

    const size_t never = packets.size();
    const auto first = Run(extradata, packets, form, never);
    const auto again = Run(extradata, packets, form, never);
    for (size_t i = 0; i < first.size(); ++i) KX_FUZZ_CHECK(Same(first[i], again[i]));

    // A reset before packet k: what came before is as without it, and the
    // next picture read begins a sequence.
    if (!packets.empty()) {
        const size_t k = data[0] / 4 % packets.size();
        const auto reset = Run(extradata, packets, form, k);
        for (size_t i = 0; i < k; ++i) KX_FUZZ_CHECK(Same(first[i], reset[i]));
        for (size_t i = k; i < reset.size(); ++i) {
            if (!reset[i]) continue;
            KX_FUZZ_CHECK(reset[i]->startsSequence);
            break;
        }
    }
    return 0;
}
