// Which streams of an input a command copies: by default every video, audio
// and subtitle stream the output container can hold; --streams, --no-subtitles,
// --audio-only and --video-only narrow that.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Args.h"
#include "Input.h"

namespace kxcli {

struct StreamFilter {
    std::optional<std::vector<int32_t>> only;  // --streams 0,1,3
    bool noSubtitles = false;
    bool audioOnly = false;
    bool videoOnly = false;
};

// The options above, for a command's option list.
std::vector<OptionSpec> StreamFilterOptions();
// Fails (usage) on a malformed list or options that exclude each other.
StreamFilter StreamFilterOf(const ParsedArgs& parsed);

struct StreamSelection {
    std::vector<StreamChoice> chosen;  // in stream order
    std::vector<std::string> leftOut;  // why a stream is not copied, one line each
};

// The streams to copy into files of `extension` (".mkv"). A video or audio
// stream the container cannot hold fails, naming containers that can, as
// does any stream named with --streams that cannot go; subtitles, cover art
// and data left out by default are said so. Fails when nothing is left.
StreamSelection ChooseStreams(const InputFile& input, const StreamFilter& filter, const std::string& extension);

// The common output extensions whose containers take the codec as it is.
std::vector<std::string> ContainersHolding(int32_t codecId);

// "language eng, "Director's cut", default, forced" (empty when untagged).
std::string DescribeTags(const TrackDesc& track);
// The disposition bits by name: "default", "forced", "hearing impaired"...
std::vector<std::string> DispositionNames(uint32_t disposition);

// Prints the left-out lines unless quiet.
void SayLeftOut(const StreamSelection& selection, bool quiet);

}  // namespace kxcli
