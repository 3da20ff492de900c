// What a cut with re-encoded edges decides before it decodes anything: where
// it copies and where it encodes, and which parameter-set ids its pictures
// may take. The pictures themselves are judged by the corpus job `exact`.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "output/H264ParameterSetIds.h"
#include "task/EdgeCutPlan.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kSecond = 10'000'000;

std::vector<KeyFrameRecord> KeysAt(std::initializer_list<int64_t> seconds) {
    std::vector<KeyFrameRecord> keys;
    for (int64_t s : seconds) keys.push_back(KeyFrameRecord{0, 0, s * kSecond, 0});
    return keys;
}

struct PlanCase {
    const char* what;
    int64_t start, length;  // in tenths of a second
    bool encodesHead;
    std::optional<int64_t> copyFrom, tailFrom;  // in seconds
};

TEST(EdgeCutTest, PlanCopiesBetweenTheKeyFramesInsideTheClip) {
    const auto keys = KeysAt({0, 1, 2, 3, 4});
    const int64_t duration = 5 * kSecond;
    const PlanCase cases[] = {
        {"inside, several groups", 15, 20, true, 2, 3},
        {"inside one group: all encoded", 12, 5, true, std::nullopt, std::nullopt},
        {"ends in the group after the first key frame: only that key frame's group", 15, 10, true, 2, 2},
        {"starts on a key frame", 10, 15, false, 1, 2},
        {"ends on a key frame", 15, 15, true, 2, std::nullopt},
        {"first clip", 0, 15, false, 0, 1},
        {"last clip", 35, 40, true, 4, std::nullopt},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ClipRange range{c.start * kSecond / 10, c.length * kSecond / 10, 0};
        const kx::EdgeCutPlan plan = kx::PlanEdgeCut(range, keys, duration);
        EXPECT_EQ(plan.EncodesHead(), c.encodesHead);
        EXPECT_EQ(plan.copyFrom, c.copyFrom ? std::optional<int64_t>(*c.copyFrom * kSecond) : std::nullopt);
        EXPECT_EQ(plan.encodeTailFrom, c.tailFrom ? std::optional<int64_t>(*c.tailFrom * kSecond) : std::nullopt);
    }
    // Cut exactly at key frames at both ends: nothing to encode.
    EXPECT_FALSE(kx::PlanEdgeCut(ClipRange{kSecond, 2 * kSecond, 0}, keys, duration).EncodesAnything());
}

// Parameter sets behind a four-byte start code, with their ids coded as
// Exp-Golomb numbers.
class SetWriter {
public:
    SetWriter& Sps(uint32_t id) { return Unit(0x67, {0x64, 0x00, 0x1E}, {id}); }
    SetWriter& Pps(uint32_t id, uint32_t spsId) { return Unit(0x68, {}, {id, spsId}); }
    const Bytes& bytes() const { return bytes_; }

private:
    SetWriter& Unit(uint8_t header, Bytes fixed, std::initializer_list<uint32_t> codes) {
        Bytes unit = {0, 0, 0, 1, header};
        unit.insert(unit.end(), fixed.begin(), fixed.end());
        std::vector<bool> bits;
        for (uint32_t code : codes) {
            const uint32_t value = code + 1;
            int width = 0;
            while ((value >> width) > 1) ++width;
            bits.insert(bits.end(), width, false);
            for (int b = width; b >= 0; --b) bits.push_back((value >> b) & 1);
        }
        bits.push_back(true);  // stop bit
        while (bits.size() % 8) bits.push_back(false);
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
            unit.push_back(byte);
        }
        bytes_.insert(bytes_.end(), unit.begin(), unit.end());
        return *this;
    }
    Bytes bytes_;
};

TEST(EdgeCutTest, EncodedPicturesTakeAnIdTheSourceDoesNotUse) {
    const struct {
        const char* what;
        Bytes extradata;
        std::optional<int> free;
    } cases[] = {
        {"the usual 0", SetWriter().Sps(0).Pps(0, 0).bytes(), 1},
        {"ids 1 and 2 in use", SetWriter().Sps(1).Sps(0).Pps(2, 1).bytes(), 3},
        {"an avcC record",
         Bytes{1, 0x64, 0x00, 0x1E, 0xFF, 0xE1, 0, 5, 0x67, 0x64, 0x00, 0x1E, 0x40, 1, 0, 2, 0x68, 0xCE},
         2},  // SPS 1, PPS 0
        {"an avcC record cut short keeps what it holds",
         Bytes{1, 0x64, 0x00, 0x1E, 0xFF, 0xE2, 0, 5, 0x67, 0x64, 0x00, 0x1E, 0x40, 0, 9, 0x67}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kx::ParameterSetIds ids;
        kx::CollectExtradataParameterSetIds(c.extradata.data(), c.extradata.size(), &ids);
        EXPECT_EQ(kx::FreeParameterSetId(ids), c.free);
    }
    // Sets that arrive in a packet count too; with every id taken there is none.
    SetWriter every;
    for (uint32_t id = 0; id < 32; ++id) every.Sps(id);
    kx::ParameterSetIds ids;
    kx::CollectPacketParameterSetIds(every.bytes().data(), static_cast<int>(every.bytes().size()), kx::kAnnexBForm,
                                     &ids);
    EXPECT_EQ(kx::FreeParameterSetId(ids), std::nullopt);
}

}  // namespace
