#include "input/CTMultiDemuxer.h"

#include <algorithm>
#include <new>
#include <utility>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/WideString.h"

namespace kx {

CTMultiDemuxer::~CTMultiDemuxer() { Close(); }

int CTMultiDemuxer::Close() {
    CloseInput(&spare_);
    control_.reset();
    analyze_.reset();
    for (auto& [index, entry] : readers_)
        if (entry.reader) entry.reader->Close();
    readers_.clear();
    input_.reset();
    started_ = 0;
    return 0;
}

int CTMultiDemuxer::Open(const char16_t* path, int decodeMode) {
    if (!path) return -1;
    return OpenSource(InputSource::File(path), decodeMode);
}

int CTMultiDemuxer::OpenSource(const InputSource& source, int decodeMode) {
    if (source.path.size() >= kPathCapacity) return -1;  // would not fit the path field
    if (control_ || !readers_.empty()) Close();
    source_ = source;
    decodeMode_ = decodeMode;
    control_ = std::make_unique<CTMultiDemuxerControl>();
    control_->Initialize(nullptr, decodeMode);
    analyze_ = std::make_unique<CTMultiAnalyze>();
    analyze_->Attach(nullptr);
    // Key-frame scans, descriptions for the task set-up and the merge check
    // all come before the readers are started: the analysis sees the readers
    // from the start.
    analyze_->AttachReaders(&readers_);
    return 0;
}

int CTMultiDemuxer::AddStream(int streamIndex) {
    if (started_ || !control_) return -1;
    if (readers_.count(streamIndex)) return 0;  // one reader per stream
    if (!input_) {
        AVFormatContext* context = std::exchange(spare_, nullptr);
        if (!context) context = OpenInput(source_, ProbeDepth::kStreamInfo).context;
        if (!context) return -1;  // no file, no reader
        input_ = std::make_shared<SharedInput>(context, source_, decodeMode_ == 0);
    }
    auto reader = std::make_unique<CTSingleTDemuxer>();
    reader->Initialize();
    if (reader->OpenShared(input_, decodeMode_) != 0) return -1;
    reader->AddStream(streamIndex);
    reader->UseKeyFramesFound(keyFramesFound_);
    reader->StartDemuxer();
    const MediaType mediaType = reader->MediaTypeOf(streamIndex);
    if (mediaType == MediaType::kNone) return -1;  // the stream cannot be read: the reader would only report an end
    StreamReaderEntry entry;
    entry.streamIndex = streamIndex;
    entry.mediaType = mediaType;
    entry.reader = std::move(reader);
    readers_.emplace(streamIndex, std::move(entry));
    ApplyFileClock();
    return 0;
}

void CTMultiDemuxer::OfferOpenedContext(AVFormatContext* context) {
    if (!context) return;
    if (spare_ || started_ || !control_ || !readers_.empty()) {
        CloseInput(&context);
        return;
    }
    spare_ = context;
}

void CTMultiDemuxer::ApplyFileClock() {
    // One clock for the whole file: 0 is the earliest start of its selected
    // streams, so that every reader, the key-frame index and the clips agree.
    bool any = false;
    int64_t zero = 0;
    for (auto& [index, entry] : readers_) {
        if (!entry.reader) continue;
        int64_t start = entry.reader->EarliestStartTicks();
        zero = any ? std::min(zero, start) : start;
        any = true;
    }
    for (auto& [index, entry] : readers_)
        if (entry.reader) entry.reader->SetTimeZero(zero);
}

int CTMultiDemuxer::StartDemuxer() {
    if (started_ || !control_ || !analyze_) return -1;
    started_ = 1;
    CloseInput(&spare_);  // no reader can be added any more
    control_->AttachReaders(&readers_, input_.get());
    analyze_->AttachReaders(&readers_);
    return 0;
}

}  // namespace kx

kx::ITDemuxer* CreateMultiDemuxer() { return new (std::nothrow) kx::CTMultiDemuxer(); }
