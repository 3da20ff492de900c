// Key frames that a pass over the whole file found on its way: the packet
// count of a container that stores no bit rates reads every packet anyway.
// The file's key-frame queries take them from here instead of reading the
// file again. Shared by the file's media information reader (which fills it)
// and its stream readers; safe to use from several threads.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "input/KeyFrameCollector.h"

namespace kx {

class FilePassKeyFrames {
public:
    // Every key frame of the stream, from a pass that read it to its end.
    void Keep(int streamIndex, std::vector<KeyFrameSighting> keyFrames);
    std::optional<std::vector<KeyFrameSighting>> Find(int streamIndex) const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::vector<KeyFrameSighting>> streams_;
};

}  // namespace kx
