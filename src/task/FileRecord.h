// What the converter keeps per input file: path, id, reader, selected
// streams, clips and key frames.
#pragma once

#include <cstdint>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KX_Remuxion.h"
#include "output/HevcParameterSetIds.h"
#include "task/TaskKinds.h"

class CTMuxer;

namespace kx {

struct DemuxerHolder;
void DestroyDemuxerHolder(DemuxerHolder* holder);

struct DemuxerHolderDeleter {
    void operator()(DemuxerHolder* holder) const { DestroyDemuxerHolder(holder); }
};
using DemuxerHolderPtr = std::unique_ptr<DemuxerHolder, DemuxerHolderDeleter>;

struct MuxerDeleter {
    void operator()(CTMuxer* muxer) const;
};
using MuxerPtr = std::unique_ptr<CTMuxer, MuxerDeleter>;

constexpr size_t kMaxFilePath = 2048;

// How a clip cut at any picture came out in the last task: video pictures
// encoded again and copied, or why it was cut at key frames instead.
struct ClipCutReport {
    int64_t reencodedFrames = 0;
    int64_t copiedFrames = 0;
    bool fellBack = false;
    std::string fallBackReason;
};

struct ClipTask {
    ClipKind kind = ClipKind::kTime;
    MuxerPtr output;    // attached by PrepareTask or when the clip starts, closed by the engines
    std::u16string outputName;  // split: the clip's output, named by PrepareTask
    bool outputDue = false;     // split: the output is to be opened when the clip starts
    bool outputComplete = false;  // the output was finished and named in the last task
    std::map<int64_t, StreamKind> outputStreamKinds;  // by output stream key
    ClipRange range{};
    ClipCutReport cutReport;  // split with re-encoded edges: the last task's
};

struct SelectedStream {
    int64_t streamIndex = 0;
    StreamKind kind = StreamKind::kOther;
    int64_t reserved[3] = {-1, -1, -1};
    int64_t outputNumber = -1;
};

// A split with re-encoded edges: how every clip of the file encodes its
// pictures, fixed before the clips' outputs are made so that their stream
// descriptions carry the encoder's parameter sets beside the source's.
struct EdgeEncoding {
    int parameterSetId = 1;  // H.264
    HevcSetIds hevcIds;      // HEVC
    int frameRateNum = 25;
    int frameRateDen = 1;
    std::vector<uint8_t> parameterSets;  // Annex B
};

struct FileRecord {
    std::u16string path;
    int64_t fileId = -1;
    std::vector<ClipTask> clips;
    DemuxerHolderPtr input;  // its reading side
    uint32_t opened = 0;
    std::vector<SelectedStream> selectedStreams;
    int64_t keyFrameCount = 0;
    std::vector<KeyFrameRecord> keyFrames;
    // This task's: the key frames next to its cut times, when the whole
    // index was not needed (see CutKeyFrames).
    std::vector<KeyFrameRecord> keyFramesNearCuts;
    // Size pieces that follow on (one task's): where the next one starts
    // (none: at its own start), and whether the input is used up.
    std::optional<int64_t> nextPieceStart;
    bool piecesDone = false;
    std::optional<EdgeEncoding> edgeEncoding;  // none: not planned, or neither H.264 nor HEVC
};

}  // namespace kx
