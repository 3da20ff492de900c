// Reads the bits of one H.264 NAL unit's payload (after its header byte):
// fixed-width fields and Exp-Golomb codes, with the emulation prevention
// bytes (the 03 of 00 00 03) taken out as they are met. Reading past the end
// or a code longer than 32 bits fails the reader: every later value is 0 and
// Ok() stays false, so a parser checks once at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

class RbspBitReader {
public:
    RbspBitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Ok() const { return ok_; }

    // n bits, most significant first; n from 0 to 32.
    uint32_t Bits(int n) {
        uint32_t value = 0;
        for (int i = 0; i < n; ++i) value = (value << 1) | Bit();
        return ok_ ? value : 0;
    }
    bool Flag() { return Bit() != 0; }

    // ue(v): unsigned Exp-Golomb.
    uint32_t Ue() {
        int zeros = 0;
        while (ok_ && Bit() == 0) {
            if (++zeros > kMaxGolombZeros) ok_ = false;
        }
        if (!ok_) return 0;
        const uint64_t value = (uint64_t{1} << zeros) - 1 + Bits(zeros);
        if (!ok_ || value > UINT32_MAX) return Fail();
        return static_cast<uint32_t>(value);
    }

    // se(v): signed Exp-Golomb, 1 -1 2 -2 ... for codes 1 2 3 4 ...
    int32_t Se() {
        const uint32_t code = Ue();
        const auto magnitude = static_cast<int32_t>((code + 1) / 2);
        return (code & 1) ? magnitude : -magnitude;
    }

private:
    static constexpr int kMaxGolombZeros = 31;

    uint32_t Fail() {
        ok_ = false;
        return 0;
    }

    uint32_t Bit() {
        if (!ok_) return 0;
        if (bit_ == 0) {
            if (!LoadByte()) return Fail();
            bit_ = 8;
        }
        --bit_;
        return (current_ >> bit_) & 1u;
    }

    bool LoadByte() {
        if (pos_ >= size_) return false;
        uint8_t byte = data_[pos_++];
        if (zeros_ >= 2 && byte == 3) {  // emulation prevention: not payload
            zeros_ = 0;
            if (pos_ >= size_) return false;
            byte = data_[pos_++];
        }
        zeros_ = byte == 0 ? zeros_ + 1 : 0;
        current_ = byte;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    int zeros_ = 0;
    uint8_t current_ = 0;
    int bit_ = 0;
    bool ok_ = true;
};

}  // namespace kx
