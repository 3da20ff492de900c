// Whole-file media information: opens a source file on its own (apart from
// the demuxer) and describes its programs and their video and audio streams
// in the host-visible FileMediaInfo layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "KX_Remuxion.h"
#include "input/InputOpen.h"
#include "input/StreamSummary.h"

struct AVFormatContext;

namespace kx {

struct StreamMediaInfo;
class FilePassKeyFrames;

constexpr size_t kMediaInfoPathLength = 1024;

class CTMediaInfo {
public:
    CTMediaInfo() = default;
    ~CTMediaInfo();
    CTMediaInfo(const CTMediaInfo&) = delete;
    CTMediaInfo& operator=(const CTMediaInfo&) = delete;

    // 0 when the file is open and its stream information read (or the
    // description already exists), -1 otherwise.
    int OpenMediaFile(const char16_t* path);
    // As OpenMediaFile, for a source with its policy (or bytes in memory).
    int OpenMediaSource(const InputSource& source);
    // Why the last open failed (kNone after a success).
    const InputProblem& LastProblem() const { return problem_; }

    // Built on the first call after a successful open and kept until
    // CloseMediaFile; null before an open or for a file without streams.
    // Owned by the reader.
    FileMediaInfo* GetMediainfo();

    // Every stream with its tags, the file's title and chapters; built with
    // the description (empty before).
    const FileSummary& Summary() const { return summary_; }

    // Where the description keeps the key frames of the video streams it
    // counted packet by packet (containers that store no bit rates).
    void ShareKeyFramesFound(std::shared_ptr<FilePassKeyFrames> found) { keyFramesFound_ = std::move(found); }

    // Frees the description and closes the file.
    void CloseMediaFile();

    // Once the description is built, the open file is no longer needed
    // here: hands it over (the caller owns it) so that a reader of the same
    // file need not open it again. Null before the description exists, or
    // when it was handed over already.
    AVFormatContext* TakeOpenedContext();

    // 1 when stream b can be written where stream a was written without
    // re-encoding, else 0.
    static int IsStreamFormatCompatible(const StreamMediaInfo* a, const StreamMediaInfo* b);

private:
    AVFormatContext* context_ = nullptr;
    char16_t path_[kMediaInfoPathLength] = {};
    InputSource source_;
    InputProblem problem_;
    FileMediaInfo* info_ = nullptr;
    FileSummary summary_;
    std::shared_ptr<FilePassKeyFrames> keyFramesFound_;
};

// Releases a FileMediaInfo built by CTMediaInfo (every record array and
// extradata copy, then the record itself).
void FreeFileMediaInfo(FileMediaInfo* info);

}  // namespace kx
