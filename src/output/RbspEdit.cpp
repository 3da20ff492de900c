#include "output/RbspEdit.h"

namespace kx {

namespace {
constexpr uint8_t kEmulationPrevention = 3;
constexpr int kMaxGolombZeros = 31;
}  // namespace

std::vector<uint8_t> Unescape(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == kEmulationPrevention) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

std::vector<uint8_t> Escape(const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 1);
    int zeros = 0;
    for (const uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= kEmulationPrevention) {
            out.push_back(kEmulationPrevention);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    // cabac_zero_words end a unit behind a 03, as a unit must not end in a zero byte.
    if (zeros >= 2) out.push_back(kEmulationPrevention);
    return out;
}

uint32_t BitCursor::Bits(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t bit = 0;
        if (pos_ < Size()) {
            bit = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
            ++pos_;
        } else {
            ok_ = false;
        }
        value = (value << 1) | bit;
    }
    return ok_ ? value : 0;
}

uint32_t BitCursor::Ue() {
    int zeros = 0;
    while (ok_ && Bits(1) == 0) {
        if (++zeros > kMaxGolombZeros) ok_ = false;
    }
    if (!ok_) return 0;
    const uint64_t value = (uint64_t{1} << zeros) - 1 + Bits(zeros);
    if (!ok_ || value > UINT32_MAX) {
        ok_ = false;
        return 0;
    }
    return static_cast<uint32_t>(value);
}

void BitWriter::Bits(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (used_ % 8));
        ++used_;
    }
}

void BitWriter::Ue(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    const int length = UeLength(value);
    const int zeros = length / 2;
    Bits(0, zeros);
    Bits(static_cast<uint32_t>(code), zeros + 1);
}

void BitWriter::Copy(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    // Whole bytes at once when both sides are aligned.
    while (from < to && (from % 8 != 0 || !Aligned())) {
        Bits((bytes[from / 8] >> (7 - from % 8)) & 1u, 1);
        ++from;
    }
    while (from + 8 <= to) {
        bytes_.push_back(bytes[from / 8]);
        used_ += 8;
        from += 8;
    }
    for (; from < to; ++from) Bits((bytes[from / 8] >> (7 - from % 8)) & 1u, 1);
}

void BitWriter::Trail() {
    Bits(1, 1);
    while (!Aligned()) Bits(0, 1);
}

int UeLength(uint32_t value) {
    int bits = 0;
    for (uint64_t code = uint64_t{value} + 1; code > 1; code >>= 1) ++bits;
    return 2 * bits + 1;
}

size_t StopBitPosition(const std::vector<uint8_t>& rbsp) {
    for (size_t i = rbsp.size(); i > 0; --i) {
        const uint8_t byte = rbsp[i - 1];
        if (byte == 0) continue;
        int low = 0;
        while (((byte >> low) & 1u) == 0) ++low;
        return (i - 1) * 8 + static_cast<size_t>(7 - low);
    }
    return rbsp.size() * 8;
}

}  // namespace kx
