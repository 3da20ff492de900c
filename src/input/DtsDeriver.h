// Decoding times for a video stream whose container stores presentation times
// only (Matroska, some AVI and FLV files). Packets arrive in decoding order;
// with B-frames their presentation times are out of order.
#pragma once

#include <cstdint>
#include <queue>
#include <vector>

namespace kx {

class DtsDeriver {
public:
    // reorderDepth: how many frames a picture may be decoded later than its
    // place in presentation order (the codec's reorder delay); frameTicks: one
    // frame's duration, used only for the first reorderDepth packets.
    DtsDeriver(int reorderDepth, int64_t frameTicks);

    // The decoding time of the next packet in decoding order. The i-th packet
    // gets the (i - depth)-th smallest presentation time, so the result never
    // exceeds the packet's own pts and always rises. AV_NOPTS_VALUE in gives
    // AV_NOPTS_VALUE out.
    int64_t Next(int64_t pts);

    // After a seek: the next packet starts a new run.
    void Reset();

private:
    int depth_;
    int64_t frameTicks_;
    int64_t seen_ = 0;
    int64_t firstPts_ = 0;
    int64_t lastDts_ = 0;
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> pending_;
};

}  // namespace kx
