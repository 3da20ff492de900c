// Input files: adding, removing, reopening, stream selection, seekability.
#include <algorithm>
#include <atomic>

#include "api/CStreamwright.h"
#include "api/HostKinds.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "input/ITDemuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/Thread.h"
#include "platform/WideString.h"
#include "task/FileReaders.h"

namespace kx {

namespace {
// Shared by every converter of the process; failed AddFile calls use ids too.
std::atomic<int64_t> g_nextFileId{0};
constexpr int kCompressedPackets = 0;  // decode mode of a task's demuxers
}  // namespace

DemuxerHolderPtr CStreamwright::OpenDemuxerHolder(const std::u16string& path, int decodeMode) {
    DemuxerHolder* raw = nullptr;
    if (CreateDemuxerHolder(&raw) < 0 || !raw) {
        LogFormat(legacy::kError, u"CreateDemuxer failed");
        return nullptr;
    }
    DemuxerHolderPtr holder(raw);
    InputProblem problem = OpenHolderSource(holder.get(), InputSource::File(path, inputPolicy_), decodeMode);
    if (problem.Failed()) {
        RefuseInput(path, std::move(problem));
        return nullptr;
    }
    lastInputProblem_ = {};
    return holder;
}

void CStreamwright::RefuseInput(const std::u16string& path, InputProblem problem) {
    lastInputProblem_ = std::move(problem);
    const std::u16string reason = DescribeRefusedInput(path, lastInputProblem_);
    LogFormat(u"Remuxion Input::%ls\n", reason.c_str());
    NoteFailure(FailureReport{WideToUtf8(reason), KX_E_FAIL});
    LogFormat(legacy::kError, u"OpenDemuxer failed");
}

int64_t CStreamwright::AddFile(BSTR path) {
    if (!path) return StatusInPlaceOfValue(KX_E_POINTER);
    size_t length = WideLength(path);
    if (length > kMaxFilePath) LogFormat(legacy::kPathTooLong);
    int64_t id = g_nextFileId.fetch_add(1);
    if (length >= kMaxFilePath) {
        // The record holds 2047 characters and a terminator: a longer path is refused, not cut.
        const std::u16string name(path, length);
        RefuseInput(name, {InputFault::kNameTooLong, std::to_string(WideToUtf8(name).size())});
        return kNoFileId;
    }
    FileRecord record;
    record.path.assign(path, length);
    record.fileId = id;
    record.input = OpenDemuxerHolder(record.path, kCompressedPackets);
    if (!record.input) return kNoFileId;
    record.opened = 1;
    session_.AddFile(std::move(record));
    return id;
}

HRESULT CStreamwright::RemoveFile(int64_t fileId) {
    return session_.RemoveFile(fileId) == SessionEdit::kDone ? KX_S_OK : KX_S_FALSE;
}

HRESULT CStreamwright::Reset() {
    session_.RemoveAllFiles();
    return KX_S_OK;
}

HRESULT CStreamwright::OpenStream(int64_t fileId, int32_t streamIndex, int32_t kind) {
    FileRecord* file = FindFile(fileId);
    if (!file) return KX_S_FALSE;
    ShareOpenedFile(file->input.get());
    if (ITDemuxer* demuxer = DemuxerOf(*file); demuxer && demuxer->AddStream(streamIndex) == 0) {
        SelectedStream stream;
        stream.streamIndex = streamIndex;
        stream.kind = StreamKindFromHost(kind);
        file->selectedStreams.push_back(stream);
        return KX_S_OK;
    }
    LogFormat(legacy::kOpenStream, file->path.c_str(), streamIndex);
    return KX_S_FALSE;
}

HRESULT CStreamwright::ReopenFiles() {
    for (auto& file : session_.Files()) {
        file.input.reset();
        file.input = OpenDemuxerHolder(file.path, kCompressedPackets);
        if (!file.input) {
            busy_ = 0;
            return KX_S_OK;
        }
        for (const auto& stream : file.selectedStreams)
            DemuxerOf(file)->AddStream(static_cast<int>(stream.streamIndex));
        CloseClipOutputs(file);
    }
    busy_ = 0;
    return KX_S_OK;
}

HRESULT CStreamwright::StartDemuxers() {
    for (auto& file : session_.Files()) {
        ITDemuxer* demuxer = DemuxerOf(file);
        if (!demuxer) continue;
        demuxer->StartDemuxer();
        if (ITDemuxerControl* control = demuxer->GetControl()) control->SetHoldSample(1);
    }
    return KX_S_OK;
}

HRESULT CStreamwright::SetInputPolicy(InputPolicy policy) {
    if (busy_.load()) return KX_E_FAIL;
    inputPolicy_ = policy;
    return KX_S_OK;
}

void CStreamwright::ForgetInputEnds() {
    earlyInputEnds_.clear();
    for (auto& file : session_.Files())
        if (ITDemuxerControl* control = ControlOf(file)) control->ForgetInputEnd();
}

void CStreamwright::CollectInputEnds() {
    std::u16string reasons;
    for (auto& file : session_.Files()) {
        ITDemuxerControl* control = ControlOf(file);
        if (!control) continue;
        EarlyInputEnd early{file.fileId, file.path, control->GetInputEnd()};
        if (early.end.kind != InputEndKind::kEarly) continue;
        const std::u16string reason = DescribeEarlyEnd(early);
        LogFormat(u"Remuxion Input::%ls\n", reason.c_str());
        reasons += (reasons.empty() ? u"" : u"; ") + reason;
        earlyInputEnds_.push_back(std::move(early));
    }
    // The outputs are finished by now: the task failed, but they stay.
    if (!reasons.empty()) FailTask(FailureReport{WideToUtf8(reasons), KX_E_INPUT_ENDED_EARLY});
}

uint32_t CStreamwright::CheckFileSeekable(int64_t fileId) {
    FileRecord* file = FindFile(fileId);
    ITDemuxerControl* control = file ? ControlOf(*file) : nullptr;
    if (!control) return 0;
    return static_cast<uint32_t>(control->CheckSeekable(-1));
}

}  // namespace kx
