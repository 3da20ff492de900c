// Input files of a command: added to a converter, described, and their
// streams selected.
#pragma once

#include <string>
#include <vector>

#include "Component.h"
#include "MediaInfo.h"

namespace kxcli {

struct StreamChoice {
    int32_t index;
    MediaKind kind;
};

struct InputFile {
    std::string path;
    int64_t id = -1;
    FileDesc desc;
    std::vector<StreamChoice> selected;  // in OpenStream order

    bool HasSelected(MediaKind kind) const;
    std::string Name() const;  // the path as the user gave it
};

// Fails, naming the first path, when a path is missing, a folder or unreadable.
void CheckReadable(const std::vector<std::string>& paths);

// For commands that show no bit rates: files added afterwards are not read
// through to count the rates their container does not store.
void SpareRateCount(IStreamwright* converter);

// Checks the path, adds the file to the converter and reads its
// description. Fails with one message: no such file, a folder, unreadable,
// not media, no video or audio stream.
InputFile AddInput(IStreamwright* converter, const std::string& path);

// The first video and the first audio stream (either may be missing).
std::vector<StreamChoice> DefaultStreams(const FileDesc& desc);

// The stream with this index as a choice; fails when the file has no video
// or audio stream of that number.
StreamChoice ChooseStream(const InputFile& input, int32_t index);

// OpenStream for each choice, in order; fails naming the stream.
void SelectStreams(IStreamwright* converter, InputFile& input, const std::vector<StreamChoice>& choices);

// Starts the readers of every input (StartDemuxers). Streams are selected
// before; key frames, the merge check and the task set-up read after.
void StartReading(IStreamwright* converter);

// "video #0 (h264) + audio #1 (aac)"
std::string DescribeSelection(const InputFile& input);

}  // namespace kxcli
