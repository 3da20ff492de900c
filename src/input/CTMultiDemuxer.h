// The demuxer that the converter uses for every input file: one reader per
// selected stream, merged by presentation time. The readers share one open
// of the file, read once (SharedInput).
#pragma once

#include <memory>

#include "input/CTMultiAnalyze.h"
#include "input/CTMultiDemuxerControl.h"
#include "input/InputOpen.h"
#include "input/ITDemuxer.h"
#include "input/SharedInput.h"
#include "input/StreamReaderEntry.h"

struct AVFormatContext;

namespace kx {

class FilePassKeyFrames;

class CTMultiDemuxer final : public ITDemuxer {
public:
    static constexpr int kPathCapacity = 1024;  // wide characters, terminator included

    CTMultiDemuxer() = default;
    ~CTMultiDemuxer() override;
    CTMultiDemuxer(const CTMultiDemuxer&) = delete;
    CTMultiDemuxer& operator=(const CTMultiDemuxer&) = delete;

    int Initialize() override { return 0; }
    int Close() override;
    // Keeps the path and mode only; the file is opened by AddStream.
    int Open(const char16_t* path, int decodeMode) override;
    // As Open, for a source with its policy (or bytes in memory).
    int OpenSource(const InputSource& source, int decodeMode);
    // Opens a reader of the file for the stream (the first opens the file);
    // -1 once started, or when the file cannot be opened or that stream read.
    int AddStream(int streamIndex) override;
    int StartDemuxer() override;
    ITAnalyze* GetAnalyze() override { return analyze_.get(); }
    ITDemuxerControl* GetControl() override { return control_.get(); }

    const StreamReaderMap& Readers() const { return readers_; }
    // The file the readers share; null before the first stream is added.
    const SharedInput* Input() const { return input_.get(); }

    // A context of this file, opened as a reader opens it and not read
    // since; the next reader that AddStream creates starts from it instead
    // of opening the file again. Owned from here on; ignored (closed) once
    // a reader exists or the demuxer is started.
    void OfferOpenedContext(AVFormatContext* context);
    // Key frames a pass over the whole file found; every reader's key-frame
    // query looks there first.
    void UseKeyFramesFound(std::shared_ptr<const FilePassKeyFrames> found) { keyFramesFound_ = std::move(found); }

private:
    // Puts every reader on the file's clock (after each added stream).
    void ApplyFileClock();
    AVFormatContext* spare_ = nullptr;
    std::shared_ptr<SharedInput> input_;
    std::unique_ptr<CTMultiDemuxerControl> control_;
    std::unique_ptr<CTMultiAnalyze> analyze_;
    StreamReaderMap readers_;
    InputSource source_;
    std::shared_ptr<const FilePassKeyFrames> keyFramesFound_;
    int started_ = 0;
    int decodeMode_ = 0;
};

}  // namespace kx

// A new multi-reader demuxer; the caller owns and deletes it.
kx::ITDemuxer* CreateMultiDemuxer();
