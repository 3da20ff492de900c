// The H.264 slice-header reader and writer and the open-key splice on
// arbitrary bytes: they stay inside their buffers, and a packet the splice
// rewrites is a packet again (its slices read back under the same sets).
// Input: a 16-bit length and that many bytes of Annex B parameter sets, then
// packets, each a 16-bit length, a byte of flags (1: left out) and its bytes.
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "output/H264BitstreamForms.h"
#include "output/H264OpenKeySplice.h"
#include "output/H264SliceHeader.h"
#include "output/RbspEdit.h"

namespace {

std::optional<std::vector<uint8_t>> Take(const uint8_t*& data, size_t& size, size_t count) {
    if (size < count) return std::nullopt;
    std::vector<uint8_t> bytes(data, data + count);
    data += count;
    size -= count;
    return bytes;
}

size_t Length(const uint8_t*& data, size_t& size) {
    const auto bytes = Take(data, size, 2);
    return bytes ? (size_t{(*bytes)[0]} << 8) | (*bytes)[1] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const auto sets = Take(data, size, Length(data, size));
    if (!sets) return 0;
    kx::H264OpenKeySplice splice(sets->data(), sets->size(), kx::kAnnexBForm);
    kx::H264SliceSyntax syntax;
    for (auto unit = kx::FindNalUnit(sets->data(), sets->data() + sets->size()); unit;
         unit = kx::FindNalUnit(unit->data + unit->size, sets->data() + sets->size()))
        syntax.TakeUnit(unit->data, unit->size);
    while (size > 0) {
        const size_t length = Length(data, size);
        const auto flags = Take(data, size, 1);
        const auto packet = flags ? Take(data, size, length) : std::nullopt;
        if (!packet) break;
        std::optional<std::vector<uint8_t>> rewritten;
        if (!splice.Take(packet->data(), packet->size(), ((*flags)[0] & 1) != 0, &rewritten)) break;
        if (rewritten) KX_FUZZ_CHECK(!rewritten->empty());
        // Each unit of the packet on its own: read, written back, read again.
        for (auto unit = kx::FindNalUnit(packet->data(), packet->data() + packet->size()); unit;
             unit = kx::FindNalUnit(unit->data + unit->size, packet->data() + packet->size())) {
            syntax.TakeUnit(unit->data, unit->size);
            const std::vector<uint8_t> rbsp = kx::Unescape(unit->data, unit->size);
            std::string problem;
            const auto header = kx::ReadSliceHeader(rbsp, syntax, &problem);
            if (!header) continue;
            const std::vector<uint8_t> again = kx::WriteSlice(*header, rbsp);
            KX_FUZZ_CHECK(kx::ReadSliceHeader(again, syntax, &problem).has_value());
        }
    }
    return 0;
}
