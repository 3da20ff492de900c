#include "input/FilePassKeyFrames.h"

#include <utility>

namespace kx {

void FilePassKeyFrames::Keep(int streamIndex, std::vector<KeyFrameSighting> keyFrames) {
    std::lock_guard<std::mutex> lock(mutex_);
    streams_[streamIndex] = std::move(keyFrames);
}

std::optional<std::vector<KeyFrameSighting>> FilePassKeyFrames::Find(int streamIndex) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(streamIndex);
    if (it == streams_.end()) return std::nullopt;
    return it->second;
}

}  // namespace kx
