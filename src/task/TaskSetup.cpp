#include "task/TaskSetup.h"

#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "media/MediaKernel.h"
#include "output/CTMuxer.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/Thread.h"
#include "platform/WideString.h"
#include "task/CopySteps.h"
#include "task/EdgeEncodingPlan.h"
#include "task/OutputRefusal.h"
#include "task/StreamDescriptions.h"

namespace kx {

namespace {

// An output's name as the host is told it; value is null when it has none.
// Pinned in place: value points into text.
struct OutputName {
    OutputName(const TaskSession& session, int64_t fileId, int64_t outputIndex) {
        OutputNameAnswer answer = session.OutputName(fileId, outputIndex);
        if (answer.refusal != NameRefusal::kNone) return;
        text = std::move(answer.name);
        value = text.c_str();
    }
    OutputName(const OutputName&) = delete;
    OutputName& operator=(const OutputName&) = delete;

    std::u16string text;
    const char16_t* value = nullptr;
};

void NumberStreams(FileRecord& file) {
    for (size_t i = 0; i < file.selectedStreams.size(); ++i) file.selectedStreams[i].outputNumber = static_cast<int64_t>(i);
}

bool NeedsNumbers(FileRecord& file) {
    return !file.selectedStreams.empty() && file.selectedStreams[0].outputNumber == -1;
}

// The output carries the file's title and other tags (a merge or mix: the
// first file's).
void CarryFileTags(CTMuxer& muxer, const FileRecord& file) {
    if (const FileSummary* summary = SummaryOf(file)) muxer.SetFileTags(summary->tags);
}

// Gives each selected stream of `file` the output number of a stream of the
// reference it can join, one to one and in order (the second audio track
// with the second); false when some stream finds none.
bool PairStreams(const FileRecord& reference, ITAnalyze* referenceAnalyze, FileRecord& file, ITAnalyze* fileAnalyze) {
    std::vector<DescriptionPtr> references;
    for (const auto& a : reference.selectedStreams) references.push_back(DescribeStream(referenceAnalyze, a.streamIndex));
    std::vector<bool> taken(references.size(), false);
    std::vector<int64_t> numbers;
    for (const auto& b : file.selectedStreams) {
        DescriptionPtr db = DescribeStream(fileAnalyze, b.streamIndex);
        size_t match = references.size();
        for (size_t i = 0; i < references.size() && match == references.size(); ++i)
            if (!taken[i] && db && references[i] && CTMediaInfo::IsStreamFormatCompatible(references[i].get(), db.get()))
                match = i;
        if (match == references.size()) return false;
        taken[match] = true;
        numbers.push_back(reference.selectedStreams[match].outputNumber);
    }
    for (size_t i = 0; i < numbers.size(); ++i) file.selectedStreams[i].outputNumber = numbers[i];
    return true;
}

}  // namespace

TaskSetup::TaskSetup(TaskSession& session, TaskHost& host)
    : session_(session), host_(host), files_(session.Files()), outputOptions_(session.OutputOptions()) {}

void TaskSetup::GroupForMerge() {
    std::vector<std::vector<int64_t>>& groups = session_.MergeGroups();
    groups.clear();
    if (files_.empty()) {
        LogFormat(legacy::kNoFilesToMerge, 0);
    } else if (session_.Kind() == TaskKind::kMerge) {
        for (auto& file : files_) {
            bool placed = false;
            for (auto& group : groups) {
                FileRecord* reference = session_.FindFile(group.front());
                if (!reference) continue;
                if (group.size() == 1 && NeedsNumbers(*reference)) NumberStreams(*reference);
                if (reference->selectedStreams.size() != file.selectedStreams.size()) continue;
                ITAnalyze* referenceAnalyze = AnalyzeOf(*reference);
                ITAnalyze* fileAnalyze = AnalyzeOf(file);
                if (!reference->input || !reference->input->mediaInfo) continue;
                if (PairStreams(*reference, referenceAnalyze, file, fileAnalyze)) {
                    group.push_back(file.fileId);
                    placed = true;
                    break;
                }
            }
            if (!placed) groups.push_back({file.fileId});
        }
        if (!groups.empty() && groups.back().size() == 1) {
            FileRecord* reference = session_.FindFile(groups.back().front());
            if (reference && NeedsNumbers(*reference)) NumberStreams(*reference);
        }
    }
}

HRESULT TaskSetup::PrepareTask() {
    if (!session_.Kind()) return KX_S_OK;
    switch (*session_.Kind()) {
    case TaskKind::kSplit:
        return PrepareSplit();
    case TaskKind::kMerge:
        return PrepareMerge();
    case TaskKind::kStreamMix:
        return PrepareStreamMix();
    }
    return KX_S_OK;
}

bool TaskSetup::OutputIsNoInput(const std::u16string& name) {
    for (const auto& file : files_) {
        if (!IsSameFile(name, file.path)) continue;
        OutputFailure failure;
        failure.step = OutputStep::kCheck;
        failure.path = name;
        failure.reason = "it is the input " + WideToUtf8(file.path);
        FailTask(failure);
        return false;
    }
    return true;
}

bool TaskSetup::OutputNameUsable(const std::u16string& name) {
    WriteStatus usable = PartialFile::CheckName(name, outputOptions_);
    if (!usable.ok()) {
        FailTask(usable.failure());
        return false;
    }
    return OutputIsNoInput(name);
}

HRESULT TaskSetup::RefuseOutput(const CTMuxer& muxer, const char16_t* name, const std::u16string& source) {
    LogFormat(legacy::kOpenMuxerFailed, name ? name : u"");
    FailTask(name ? DescribeOutputRefusal(muxer, name, source) : UnnamedOutputRefusal());
    return KX_E_FAIL;
}

bool TaskSetup::AddOutputStream(CTMuxer& muxer, ClipTask& clip, const std::u16string& outputName, const FileRecord& file,
                                const SelectedStream& stream, int64_t key, const char16_t* refusedLine) {
    DescriptionPtr description = DescribeStream(AnalyzeOf(file), stream.streamIndex);
    const int added = description ? muxer.AddStream(static_cast<int32_t>(key), description.get()) : -1;
    if (description) clip.outputStreamKinds.emplace(key, StreamKindOfMediaType(description->mediaType));
    if (added >= 0) return true;
    LogFormat(refusedLine, file.path.c_str(), static_cast<int32_t>(stream.streamIndex));
    FailTask(DescribeOutputRefusal(muxer, outputName, file.path, stream.streamIndex));
    return false;
}

bool TaskSetup::WriteOutputHeader(CTMuxer& muxer, const std::u16string& name) {
    if (!OutputIsNoInput(name)) return false;
    if (muxer.WriteHeader() >= 0) return true;
    if (const OutputFailure* failure = muxer.Failure()) FailTask(*failure);
    return false;
}

HRESULT TaskSetup::PrepareSplit() {
    for (auto& file : files_) {
        for (size_t j = 0; j < file.clips.size(); ++j) {
            OutputName name(session_, file.fileId, static_cast<int64_t>(j));
            file.clips[j].outputName = name.value ? name.value : u"";
            file.clips[j].outputDue = false;
            file.clips[j].outputComplete = false;
            file.clips[j].cutReport = ClipCutReport{};
        }
        file.edgeEncoding.reset();
        if (session_.Placement() == CutPlacement::kReencodeEdges) file.edgeEncoding = PlanEdgeEncoding(file);
        // The first clip's output is opened now, which tries the container,
        // the streams and the folder for all the file's clips; the others are
        // made when their clip starts, so that a split of any number of clips
        // keeps one file open at a time. Their names are checked now.
        for (size_t j = 0; j < file.clips.size(); ++j) {
            HRESULT result = j == 0 ? OpenClipOutput(file, j) : CheckClipOutput(file, j);
            if (result != KX_S_OK) return result;
        }
    }
    return KX_S_OK;
}

HRESULT TaskSetup::OpenClipOutput(FileRecord& file, size_t clipIndex) {
    ClipTask& clip = file.clips[clipIndex];
    const char16_t* name = clip.outputName.empty() ? nullptr : clip.outputName.c_str();
    ITAnalyze* analyze = AnalyzeOf(file);
    InitMediaKernel();
    MuxerPtr muxer(new CTMuxer());
    muxer->SetFileOptions(outputOptions_);
    {
        StreamPairDescriptions pair = DescribeFirstTwoStreams(file, analyze);
        MediaStreamPair streams = pair.Pair();
        if (!name || muxer->OpenMuxer(name, &streams) < 0) return RefuseOutput(*muxer, name, file.path);
    }
    if (file.selectedStreams.empty()) {
        FailTask(NoStreamRefusal(file.path));
        return KX_S_FALSE;
    }
    if (file.edgeEncoding) muxer->AddParameterSets(file.edgeEncoding->parameterSets);
    for (const auto& stream : file.selectedStreams)
        if (!AddOutputStream(*muxer, clip, clip.outputName, file, stream, stream.streamIndex, legacy::kSplitStreamFailed))
            return KX_S_FALSE;
    CarryFileTags(*muxer, file);
    if (!WriteOutputHeader(*muxer, clip.outputName)) {
        LogFormat(legacy::kSplitHeaderFailed, file.path.c_str());
        return KX_S_FALSE;
    }
    clip.output = std::move(muxer);
    return KX_S_OK;
}

HRESULT TaskSetup::CheckClipOutput(FileRecord& file, size_t clipIndex) {
    ClipTask& clip = file.clips[clipIndex];
    if (clip.outputName.empty()) {
        LogFormat(legacy::kOpenMuxerFailed, u"");
        FailTask(UnnamedOutputRefusal());
        return KX_E_FAIL;
    }
    if (!OutputNameUsable(clip.outputName)) {
        LogFormat(legacy::kSplitHeaderFailed, file.path.c_str());
        return KX_S_FALSE;
    }
    clip.outputStreamKinds = file.clips.front().outputStreamKinds;
    clip.outputDue = true;
    return KX_S_OK;
}

bool TaskSetup::OpenDueClipOutput(FileRecord& file, size_t clipIndex) {
    ClipTask& clip = file.clips[clipIndex];
    if (!clip.outputDue) return true;
    clip.outputDue = false;
    if (OpenClipOutput(file, clipIndex) == KX_S_OK) return true;
    if (!TaskFailed()) {
        // Not a failure of the file: the container took the same streams for the first clip.
        OutputFailure failure;
        failure.step = OutputStep::kHeader;
        failure.path = clip.outputName;
        failure.reason = "the container refused the streams";
        FailTask(failure);
    }
    return false;
}

HRESULT TaskSetup::PrepareMerge() {
    // One shared output on the first clip of the first file. Files without
    // clips are copied whole: they get that clip now rather than in the run.
    if (files_.empty()) return KX_E_FAIL;
    for (auto& file : files_) EnsureDefaultClip(file);
    FileRecord& first = files_.front();
    OutputName name(session_, first.fileId, 0);
    ITAnalyze* analyze = AnalyzeOf(first);
    InitMediaKernel();
    MuxerPtr muxer(new CTMuxer());
    muxer->SetFileOptions(outputOptions_);
    {
        StreamPairDescriptions pair = DescribeFirstTwoStreams(first, analyze);
        MediaStreamPair streams = pair.Pair();
        if (!name.value || muxer->OpenMuxer(name.value, &streams) < 0) return RefuseOutput(*muxer, name.value, first.path);
    }
    ClipTask& clip = first.clips.front();
    clip.outputComplete = false;
    for (const auto& stream : first.selectedStreams)
        if (!AddOutputStream(*muxer, clip, name.value, first, stream, stream.outputNumber, legacy::kMergeStreamFailed))
            return KX_S_FALSE;
    if (first.selectedStreams.empty()) {
        FailTask(NoStreamRefusal(first.path));
        return KX_S_FALSE;
    }
    CarryFileTags(*muxer, first);
    if (!WriteOutputHeader(*muxer, name.value)) {
        LogFormat(legacy::kMergeHeaderFailed, first.path.c_str());
        return KX_S_FALSE;
    }
    clip.output = std::move(muxer);
    return KX_S_OK;
}

HRESULT TaskSetup::PrepareStreamMix() {
    if (files_.empty()) return KX_E_FAIL;
    for (auto& file : files_) EnsureDefaultClip(file);
    for (const auto& file : files_) {
        if (!file.selectedStreams.empty()) continue;
        FailTask(NoStreamRefusal(file.path));  // every file gives its first stream
        return KX_S_FALSE;
    }
    OutputName name(session_, 0, 0);
    int64_t counter = 0;
    for (auto& file : files_) {
        if (file.selectedStreams.size() > 1)
            LogFormat(legacy::kMixTooManyStreams,
                      static_cast<int32_t>(file.selectedStreams.size()));
        file.selectedStreams.front().outputNumber = counter++;
    }
    // The output's descriptions: the last file with audio gives the audio, and
    // a file without audio but with video gives the video.
    std::vector<StreamPairDescriptions> held;
    MediaStreamPair streams;
    const std::u16string* audioSource = &files_.front().path;
    const std::u16string* videoSource = &files_.front().path;
    for (auto& file : files_) {
        ITAnalyze* analyze = AnalyzeOf(file);
        if (!analyze) {
            LogFormat(legacy::kMixNoAnalyze);
            continue;
        }
        held.push_back(DescribeFirstTwoStreams(file, analyze));
        if (held.back().audio) {
            streams.audio = held.back().audio.get();
            audioSource = &file.path;
        } else if (held.back().video) {
            streams.video = held.back().video.get();
            videoSource = &file.path;
        }
    }
    InitMediaKernel();
    MuxerPtr muxer(new CTMuxer());
    muxer->SetFileOptions(outputOptions_);
    if (!name.value || muxer->OpenMuxer(name.value, &streams) < 0) {
        const bool audioRefused = muxer->Verdict().refused == RefusedStream::kAudio;
        return RefuseOutput(*muxer, name.value, audioRefused ? *audioSource : *videoSource);
    }
    held.clear();
    ClipTask& clip = files_.front().clips.front();
    clip.outputComplete = false;
    for (auto& file : files_) {
        const SelectedStream& stream = file.selectedStreams.front();
        if (!AddOutputStream(*muxer, clip, name.value, file, stream, stream.outputNumber, legacy::kMixStreamFailed))
            return KX_S_FALSE;
    }
    CarryFileTags(*muxer, files_.front());
    if (!WriteOutputHeader(*muxer, name.value)) {
        LogFormat(legacy::kMixHeaderFailed, files_.front().path.c_str());
        return KX_S_FALSE;
    }
    clip.output = std::move(muxer);
    return KX_S_OK;
}

}  // namespace kx
