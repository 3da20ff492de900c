// Bit-level editing of a NAL unit's payload: the payload is taken out of its
// emulation prevention (the 03 of 00 00 03), edited as plain bits, and put
// back into it, so that a field of another length can replace one in the
// middle of a unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

// The payload without its emulation prevention bytes.
std::vector<uint8_t> Unescape(const uint8_t* data, size_t size);
// The payload with emulation prevention bytes put where a NAL unit needs them.
std::vector<uint8_t> Escape(const std::vector<uint8_t>& rbsp);

// Reads plain bits; past the end every bit is 0 and Ok() turns false.
class BitCursor {
public:
    explicit BitCursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t Bits(int n);
    uint32_t Ue();
    bool Ok() const { return ok_; }
    size_t Position() const { return pos_; }  // in bits
    size_t Size() const { return bytes_.size() * 8; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

class BitWriter {
public:
    void Bits(uint32_t value, int n);
    void Ue(uint32_t value);
    // The bits [from, to) of `bytes`.
    void Copy(const std::vector<uint8_t>& bytes, size_t from, size_t to);
    // rbsp_trailing_bits: a one, then zeros up to the byte's end.
    void Trail();
    bool Aligned() const { return used_ % 8 == 0; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
};

// Bits of ue(v) for `value`.
int UeLength(uint32_t value);

// Bit position of the rbsp_stop_one_bit: the last one bit; none (the size)
// when every bit is zero.
size_t StopBitPosition(const std::vector<uint8_t>& rbsp);

}  // namespace kx
