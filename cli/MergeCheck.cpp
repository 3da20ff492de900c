#include "MergeCheck.h"

#include <cmath>
#include <cstdio>

#include "Codecs.h"
#include "Console.h"

namespace kxcli {

std::vector<std::vector<int64_t>> MergeGroups(IStreamwright* converter) {
    converter->SetTaskType(static_cast<uint32_t>(KX_TASK_MERGE), -1);
    ComRef<IMerge_LossCopy_Check_Info> check(converter->CheckMerge());
    std::vector<std::vector<int64_t>> groups;
    if (!check) return groups;
    const MergeCheckResult* result = check->GetCheckInfo();
    if (!result || !result->groups) return groups;
    for (int64_t g = 0; g < result->groupCount; ++g) {
        const MergeGroupEntry& entry = result->groups[g];
        std::vector<int64_t> ids;
        if (entry.fileIds)
            for (int64_t i = 0; i < entry.count; ++i) ids.push_back(entry.fileIds[i]);
        groups.push_back(std::move(ids));
    }
    return groups;
}

namespace {

// The inputs again, on a converter of the check's own, each with the given streams.
std::vector<int64_t> AddForCheck(IStreamwright* converter, const std::vector<const InputFile*>& files,
                                 const std::vector<std::vector<StreamChoice>>& streams) {
    std::vector<int64_t> ids;
    for (size_t i = 0; i < files.size(); ++i) {
        int64_t id = converter->AddFile(Bstr(files[i]->path));
        if (id < 0) Fail("cannot open " + files[i]->path + " again for the merge check");
        for (const auto& choice : streams[i]) converter->OpenStream(id, choice.index, static_cast<int32_t>(choice.kind));
        ids.push_back(id);
    }
    StartReading(converter);
    return ids;
}

bool AllInFirstGroup(const std::vector<std::vector<int64_t>>& groups, const std::vector<int64_t>& ids) {
    return !groups.empty() && groups[0] == ids;
}

std::string Rate(double fps) {
    if (!(fps > 0)) return "a variable frame rate";  // the component's record for it
    char text[32];
    snprintf(text, sizeof text, "%.3g fps", fps);
    return text;
}

std::string Size(const StreamDesc& s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

std::string Channels(uint32_t n) { return n == 1 ? "mono" : n == 2 ? "stereo" : std::to_string(n) + " channels"; }

// What the media information shows to differ between two streams.
std::string DescribeDifference(const StreamDesc& reference, const StreamDesc& other) {
    std::vector<std::string> parts;
    auto differs = [&](bool different, const std::string& a, const std::string& b) {
        if (different) parts.push_back(b + " vs " + a);
    };
    if (reference.codecId != other.codecId) return CodecName(other) + " vs " + CodecName(reference);
    if (reference.kind == MediaKind::kVideo) {
        differs(reference.width != other.width || reference.height != other.height, Size(reference), Size(other));
        differs(std::fabs(reference.frameRate - other.frameRate) > 1e-3, Rate(reference.frameRate), Rate(other.frameRate));
        differs(reference.profile != other.profile, "profile " + std::to_string(reference.profile),
                "profile " + std::to_string(other.profile));
        differs(reference.level != other.level, "level " + std::to_string(reference.level),
                "level " + std::to_string(other.level));
        differs(reference.maxBFrames != other.maxBFrames, std::to_string(reference.maxBFrames) + " B-frames",
                std::to_string(other.maxBFrames) + " B-frames");
    } else {
        differs(reference.sampleRate != other.sampleRate, std::to_string(reference.sampleRate) + " Hz",
                std::to_string(other.sampleRate) + " Hz");
        differs(reference.channels != other.channels, Channels(reference.channels), Channels(other.channels));
        if (parts.empty() && reference.extradata != other.extradata) parts.push_back("other codec set-up data");
    }
    if (parts.empty()) return "parameters that info does not show (time base, pixel format, GOP size or rotation) differ";
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string ExplainMismatch(const InputFile& reference, const InputFile& other) {
    std::string prefix = other.path + " does not match " + reference.path + ": ";
    bool sameKinds = reference.selected.size() == other.selected.size();
    for (size_t i = 0; sameKinds && i < reference.selected.size(); ++i)
        sameKinds = reference.selected[i].kind == other.selected[i].kind;
    if (!sameKinds)
        return prefix + "it has " + DescribeSelection(other) + ", the first file has " + DescribeSelection(reference);

    // One stream kind at a time, to find the one that breaks it.
    for (size_t i = 0; i < reference.selected.size(); ++i) {
        Converter pair;
        auto ids = AddForCheck(pair.Get(), {&reference, &other}, {{reference.selected[i]}, {other.selected[i]}});
        if (AllInFirstGroup(MergeGroups(pair.Get()), ids)) continue;
        const StreamDesc* a = reference.desc.FindStream(reference.selected[i].index);
        const StreamDesc* b = other.desc.FindStream(other.selected[i].index);
        std::string what = std::string(KindName(reference.selected[i].kind)) + " stream #" + std::to_string(other.selected[i].index);
        return prefix + what + ": " + (a && b ? DescribeDifference(*a, *b) : "differs");
    }
    return prefix + "its streams cannot be paired one to one with the first file's";
}

}  // namespace

MergeVerdict JudgeMergeGroups(const std::vector<std::vector<int64_t>>& groups, const std::vector<InputFile>& inputs) {
    MergeVerdict verdict;
    std::vector<int64_t> ids;
    for (const auto& input : inputs) ids.push_back(input.id);
    if (AllInFirstGroup(groups, ids)) return verdict;

    verdict.possible = false;
    const std::vector<int64_t> first = groups.empty() ? std::vector<int64_t>{} : groups[0];
    for (size_t i = 1; i < inputs.size(); ++i) {
        bool joined = false;
        for (int64_t id : first) joined = joined || id == ids[i];
        if (!joined) {
            verdict.reason = ExplainMismatch(inputs[0], inputs[i]);
            return verdict;
        }
    }
    verdict.reason = "the component put the files into separate groups";
    return verdict;
}

MergeVerdict CheckMergeable(IStreamwright* converter, const std::vector<InputFile>& inputs) {
    if (inputs.size() < 2) return {};
    // A stream that cannot be read is left out, and the check tells.
    for (const auto& input : inputs)
        for (const auto& choice : input.selected)
            converter->OpenStream(input.id, choice.index, static_cast<int32_t>(choice.kind));
    StartReading(converter);
    return JudgeMergeGroups(MergeGroups(converter), inputs);
}

}  // namespace kxcli
