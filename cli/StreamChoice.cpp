#include "StreamChoice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Component.h"
#include "Console.h"
#include "Text.h"

namespace kxcli {

namespace {

// Extensions named when a stream cannot go where it was asked to.
constexpr const char* kCommonExtensions[] = {".mp4", ".mkv", ".mov", ".webm", ".ts", ".m4a", ".avi", ".mpg", ".flv"};

std::string Describe(const TrackDesc& track) {
    std::string text = std::string(track.kind ? KindName(*track.kind) : "data") + " #" + std::to_string(track.index);
    return text + " (" + (track.codecName.empty() ? "unknown codec" : track.codecName) +
           (track.CoverArt() ? ", cover art" : "") + ")";
}

// True when the component's capability table lets `extension` hold the codec.
bool Holds(const std::string& extension, int32_t codecId) {
    return Component().isCodecAllowedIn(Utf8ToWide(extension).c_str(), codecId) == 1;
}

std::string ContainersTaking(int32_t codecId) {
    const std::vector<std::string> names = ContainersHolding(codecId);
    if (names.empty()) return "no output container here takes it";
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text + (names.size() == 1 ? " takes it" : " take it");
}

std::vector<int32_t> ParseIndexList(const std::string& text) {
    std::vector<int32_t> indexes;
    size_t begin = 0;
    while (begin <= text.size()) {
        const size_t comma = std::min(text.find(',', begin), text.size());
        const std::string item = text.substr(begin, comma - begin);
        char* end = nullptr;
        const long value = item.empty() ? -1 : std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 0 || value > 65535)
            UsageError("bad stream list '" + text + "' for --streams: write stream numbers as info shows them (0,1,3)");
        indexes.push_back(static_cast<int32_t>(value));
        begin = comma + 1;
    }
    return indexes;
}

bool Wanted(const TrackDesc& track, const StreamFilter& filter) {
    if (filter.audioOnly) return track.kind == MediaKind::kAudio;
    if (filter.videoOnly) return track.kind == MediaKind::kVideo;
    return !(filter.noSubtitles && track.kind == MediaKind::kSubtitle);
}

}  // namespace

std::vector<std::string> ContainersHolding(int32_t codecId) {
    std::vector<std::string> names;
    for (const char* extension : kCommonExtensions)
        if (Holds(extension, codecId)) names.push_back(extension);
    return names;
}

std::vector<std::string> DispositionNames(uint32_t disposition) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{KX_DISPOSITION_DEFAULT, "default"},
                  {KX_DISPOSITION_FORCED, "forced"},
                  {KX_DISPOSITION_HEARING_IMPAIRED, "hearing impaired"},
                  {KX_DISPOSITION_VISUAL_IMPAIRED, "visually impaired"},
                  {KX_DISPOSITION_COMMENT, "commentary"},
                  {KX_DISPOSITION_DUB, "dub"},
                  {KX_DISPOSITION_ORIGINAL, "original"},
                  {KX_DISPOSITION_ATTACHED_PIC, "cover art"}};
    std::vector<std::string> names;
    for (const auto& entry : kNames)
        if (disposition & entry.bit) names.push_back(entry.name);
    return names;
}

std::string DescribeTags(const TrackDesc& track) {
    std::vector<std::string> parts;
    if (!track.language.empty()) parts.push_back("language " + track.language);
    if (!track.title.empty()) parts.push_back("\"" + track.title + "\"");
    for (const auto& name : DispositionNames(track.disposition)) parts.push_back(name);
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::vector<OptionSpec> StreamFilterOptions() {
    return {{"--streams", "", true, false},
            {"--no-subtitles", "", false, false},
            {"--audio-only", "", false, false},
            {"--video-only", "", false, false}};
}

StreamFilter StreamFilterOf(const ParsedArgs& parsed) {
    StreamFilter filter;
    if (auto list = parsed.Value("--streams")) filter.only = ParseIndexList(*list);
    filter.noSubtitles = parsed.Has("--no-subtitles");
    filter.audioOnly = parsed.Has("--audio-only");
    filter.videoOnly = parsed.Has("--video-only");
    if (filter.only.has_value() + filter.audioOnly + filter.videoOnly > 1)
        UsageError("give only one of --streams, --audio-only and --video-only");
    return filter;
}

StreamSelection ChooseStreams(const InputFile& input, const StreamFilter& filter, const std::string& extension) {
    StreamSelection selection;
    if (filter.only) {
        for (int32_t index : *filter.only) {
            const TrackDesc* track = input.desc.FindTrack(index);
            if (!track) Fail(input.path + " has no stream " + std::to_string(index) + " (info lists its streams)");
            if (!track->kind || track->CoverArt())
                Fail("cannot copy " + Describe(*track) + " of " + input.path + ": only video, audio and subtitle streams are copied");
            if (!Holds(extension, track->codecId))
                Fail("cannot copy " + Describe(*track) + " of " + input.path + " into " + extension + " files; " +
                     ContainersTaking(track->codecId));
            if (std::none_of(selection.chosen.begin(), selection.chosen.end(),
                             [&](const StreamChoice& c) { return c.index == index; }))
                selection.chosen.push_back({index, *track->kind});
        }
        std::sort(selection.chosen.begin(), selection.chosen.end(),
                  [](const StreamChoice& a, const StreamChoice& b) { return a.index < b.index; });
        return selection;
    }
    for (const TrackDesc& track : input.desc.tracks) {
        if (!Wanted(track, filter)) continue;
        if (!track.kind || track.CoverArt()) {
            selection.leftOut.push_back("not copied: " + Describe(track) + ", only video, audio and subtitles are");
        } else if (!Holds(extension, track.codecId)) {
            // Pictures and sound are never dropped unasked; subtitles are, and said so.
            if (track.kind != MediaKind::kSubtitle)
                Fail("cannot copy " + Describe(track) + " of " + input.path + " into " + extension + " files; " +
                     ContainersTaking(track.codecId) + " (--streams chooses the streams to copy)");
            selection.leftOut.push_back("not copied: " + Describe(track) + ": " + extension + " files cannot hold it; " +
                                        ContainersTaking(track.codecId));
        } else {
            selection.chosen.push_back({track.index, *track.kind});
        }
    }
    if (selection.chosen.empty()) {
        std::string why = selection.leftOut.empty() ? "it has no stream of the kind asked for" : selection.leftOut.front();
        Fail("nothing to copy from " + input.path + ": " + why);
    }
    return selection;
}

void SayLeftOut(const StreamSelection& selection, bool quiet) {
    if (quiet) return;
    for (const auto& line : selection.leftOut) std::fprintf(Out(), "%s\n", line.c_str());
}

}  // namespace kxcli
