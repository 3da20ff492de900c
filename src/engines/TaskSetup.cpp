// Task set-up: merge groups (CheckMerge) and the outputs of a task (PrepareTask).
#include "converter/CMergeLossCopyCheckInfo.h"
#include "converter/CStreamwright.h"
#include "converter/DemuxerHolder.h"
#include "engines/CopySteps.h"
#include "engines/StreamDescriptions.h"
#include "log/KX_Log.h"
#include "media/MediaKernel.h"
#include "mux/CTMediaInfo.h"
#include "mux/CTMuxer.h"

namespace kx {

namespace {

// A BSTR output name, freed on scope exit.
struct OutputName {
    BSTR value = nullptr;
    ~OutputName() { SysFreeString(value); }
};

void NumberStreams(FileRecord& file) {
    for (size_t i = 0; i < file.selectedStreams.size(); ++i) file.selectedStreams[i].outputNumber = static_cast<int64_t>(i);
}

bool NeedsNumbers(FileRecord& file) {
    return !file.selectedStreams.empty() && file.selectedStreams[0].outputNumber == -1;
}

}  // namespace

IMerge_LossCopy_Check_Info* CStreamwright::CheckMerge() {
    mergeGroups_.clear();
    if (files_.empty()) {
        LogFormat(u"ADD SUCCESS FILE NUM = 0 \n", 0);
    } else if (taskType_ == KX_TASK_MERGE) {
        for (auto& file : files_) {
            bool placed = false;
            for (auto& group : mergeGroups_) {
                FileRecord* reference = FindFile(group.front());
                if (!reference) continue;
                if (group.size() == 1 && NeedsNumbers(*reference)) NumberStreams(*reference);
                if (reference->selectedStreams.size() != file.selectedStreams.size()) continue;
                ITAnalyze* referenceAnalyze = AnalyzeOf(*reference);
                ITAnalyze* fileAnalyze = AnalyzeOf(file);
                bool comparable = reference->demuxer && reference->demuxer->mediaInfo;
                size_t matches = 0;
                for (auto& a : reference->selectedStreams) {
                    DescriptionPtr da = DescribeStream(referenceAnalyze, a.streamIndex);
                    for (auto& b : file.selectedStreams) {
                        DescriptionPtr db = DescribeStream(fileAnalyze, b.streamIndex);
                        if (comparable && da && db && CTMediaInfo::IsStreamFormatCompatible(da.get(), db.get())) {
                            b.outputNumber = a.outputNumber;
                            ++matches;
                        }
                    }
                }
                if (matches == file.selectedStreams.size()) {
                    group.push_back(file.fileId);
                    placed = true;
                    break;
                }
            }
            if (!placed) mergeGroups_.push_back({file.fileId});
        }
        if (!mergeGroups_.empty() && mergeGroups_.back().size() == 1) {
            FileRecord* reference = FindFile(mergeGroups_.back().front());
            if (reference && NeedsNumbers(*reference)) NumberStreams(*reference);
        }
    }
    if (!mergeCheckResult_) mergeCheckResult_ = CMergeLossCopyCheckInfo::Create();
    if (!mergeCheckResult_) return nullptr;
    mergeCheckResult_->AddRef();
    mergeCheckResult_->Fill(mergeGroups_);
    return mergeCheckResult_;
}

HRESULT CStreamwright::PrepareTask() {
    switch (taskType_) {
    case KX_TASK_SPLIT:
        return PrepareSplit();
    case KX_TASK_MERGE:
        return PrepareMerge();
    case KX_TASK_STREAM_MIX:
        return PrepareStreamMix();
    default:
        return KX_S_OK;
    }
}

HRESULT CStreamwright::PrepareSplit() {
    for (auto& file : files_) {
        ITAnalyze* analyze = AnalyzeOf(file);
        for (size_t j = 0; j < file.clips.size(); ++j) {
            OutputName name;
            GetOutputFileName(file.fileId, static_cast<int64_t>(j), &name.value);
            InitMediaKernel();
            MuxerPtr muxer(new CTMuxer());
            {
                StreamPairDescriptions pair = DescribeFirstTwoStreams(file, analyze);
                MediaStreamPair streams = pair.Pair();
                if (!name.value || muxer->OpenMuxer(name.value, &streams) < 0) {
                    LogFormat(u"OpenMuxer Failed ,taskFileName = %s \n", name.value ? name.value : u"");
                    return KX_E_FAIL;
                }
            }
            if (file.selectedStreams.empty()) return KX_S_FALSE;
            ClipTask& clip = file.clips[j];
            for (const auto& stream : file.selectedStreams) {
                DescriptionPtr description = DescribeStream(analyze, stream.streamIndex);
                int added = description ? muxer->AddStream(static_cast<int32_t>(stream.streamIndex), description.get()) : -1;
                if (description) clip.outputStreamKinds.emplace(stream.streamIndex, description->mediaType);
                if (added < 0) {
                    LogFormat(u"SPLITER ADD STREAM FAILED ,FileName =%s,streamid = %d \n", file.path.c_str(),
                              static_cast<int32_t>(stream.streamIndex));
                    return KX_S_FALSE;
                }
            }
            if (muxer->WriteHeader() < 0) {
                LogFormat(u"SPLITER ADD STREAM FAILED ,FileName =%s \n", file.path.c_str());
                return KX_S_FALSE;
            }
            clip.output = std::move(muxer);
        }
    }
    return KX_S_OK;
}

HRESULT CStreamwright::PrepareMerge() {
    // One shared output on the first clip of the first file. Files without
    // clips are copied whole: they get that clip now rather than in the run.
    if (files_.empty()) return KX_E_FAIL;
    for (auto& file : files_) EnsureDefaultClip(file);
    FileRecord& first = files_.front();
    OutputName name;
    GetOutputFileName(first.fileId, 0, &name.value);
    ITAnalyze* analyze = AnalyzeOf(first);
    InitMediaKernel();
    MuxerPtr muxer(new CTMuxer());
    {
        StreamPairDescriptions pair = DescribeFirstTwoStreams(first, analyze);
        MediaStreamPair streams = pair.Pair();
        if (!name.value || muxer->OpenMuxer(name.value, &streams) < 0) {
            LogFormat(u"OpenMuxer Failed ,taskFileName = %s \n", name.value ? name.value : u"");
            return KX_E_FAIL;
        }
    }
    ClipTask& clip = first.clips.front();
    bool failed = false;
    for (const auto& stream : first.selectedStreams) {
        DescriptionPtr description = DescribeStream(analyze, stream.streamIndex);
        int added = description ? muxer->AddStream(static_cast<int32_t>(stream.outputNumber), description.get()) : -1;
        if (description) clip.outputStreamKinds.emplace(stream.outputNumber, description->mediaType);
        if (added < 0) {
            LogFormat(u"MERGE ADD STREAM FAILED ,FileName =%s,streamid = %d \n", first.path.c_str(),
                      static_cast<int32_t>(stream.streamIndex));
            failed = true;
            break;
        }
    }
    if (failed || first.selectedStreams.empty()) return KX_S_FALSE;
    if (muxer->WriteHeader() < 0) {
        LogFormat(u"MERGE ADD STREAM FAILED ,FileName =%s \n", first.path.c_str());
        return KX_S_FALSE;
    }
    clip.output = std::move(muxer);
    return KX_S_OK;
}

HRESULT CStreamwright::PrepareStreamMix() {
    if (files_.empty()) return KX_E_FAIL;
    for (auto& file : files_) EnsureDefaultClip(file);
    for (const auto& file : files_)
        if (file.selectedStreams.empty()) return KX_S_FALSE;  // every file gives its first stream
    OutputName name;
    GetOutputFileName(0, 0, &name.value);
    int64_t counter = 0;
    for (auto& file : files_) {
        if (file.selectedStreams.size() > 1)
            LogFormat(u"Loss Converter SteamMix ,every file seleting stream num must less than two \n",
                      static_cast<int32_t>(file.selectedStreams.size()));
        file.selectedStreams.front().outputNumber = counter++;
    }
    // The output's descriptions: the last file with audio gives the audio, and
    // a file without audio but with video gives the video.
    std::vector<StreamPairDescriptions> held;
    MediaStreamPair streams;
    for (auto& file : files_) {
        ITAnalyze* analyze = AnalyzeOf(file);
        if (!analyze) {
            LogFormat(u"Loss Converter SteamMix ,can't get ITAnalyze \n");
            continue;
        }
        held.push_back(DescribeFirstTwoStreams(file, analyze));
        if (held.back().audio)
            streams.audio = held.back().audio.get();
        else if (held.back().video)
            streams.video = held.back().video.get();
    }
    InitMediaKernel();
    MuxerPtr muxer(new CTMuxer());
    if (!name.value || muxer->OpenMuxer(name.value, &streams) < 0) {
        LogFormat(u"OpenMuxer Failed ,taskFileName = %ls \n", name.value ? name.value : u"");
        return KX_E_FAIL;
    }
    held.clear();
    ClipTask& clip = files_.front().clips.front();
    for (auto& file : files_) {
        const SelectedStream& stream = file.selectedStreams.front();
        DescriptionPtr description = DescribeStream(AnalyzeOf(file), stream.streamIndex);
        int added = description ? muxer->AddStream(static_cast<int32_t>(stream.outputNumber), description.get()) : -1;
        if (description) clip.outputStreamKinds.emplace(stream.outputNumber, description->mediaType);
        if (added < 0) {
            LogFormat(u"STREAMMIX ADD STREAM FAILED ,FileName =%s,streamid = %d \n", file.path.c_str(),
                      static_cast<int32_t>(stream.streamIndex));
            return KX_S_FALSE;
        }
    }
    if (muxer->WriteHeader() < 0) {
        LogFormat(u"STREAMMIX ADD STREAM FAILED ,FileName =%s \n", files_.front().path.c_str());
        return KX_S_FALSE;
    }
    clip.output = std::move(muxer);
    return KX_S_OK;
}

}  // namespace kx
