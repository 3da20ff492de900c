// A size clip ends once its payload reaches the size, wherever that falls,
// so where the next piece must start is known only when the previous one is
// written. The pieces are therefore written one task at a time: each starts
// at the whole second (the unit in which a size clip is positioned) at or
// before the previous piece's end, which the reader moves back to a key
// frame. Pieces thus overlap by less than a key-frame interval and a second,
// and never leave a gap.
#include "SplitBySize.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Commands.h"
#include "Console.h"
#include "Input.h"
#include "KeyFrames.h"
#include "Outputs.h"
#include "platform/FileMoves.h"
#include "TaskRunner.h"
#include "TimeText.h"

namespace kxcli {

namespace {

constexpr int kMaxPieces = 10'000;

int64_t KeyFrameAtOrBefore(const std::vector<KeyFrameRecord>& keyFrames, int64_t t) {
    int64_t found = keyFrames.empty() ? 0 : keyFrames.front().time;
    for (const auto& k : keyFrames)
        if (k.time <= t) found = k.time;
    return found;
}

double DurationOf(const std::string& path) {
    Converter converter;
    return AddInput(converter.Get(), path).desc.duration;
}

// "<folder>/<base>_<id>_000.mp4" -> "<folder>/<base>_<id>_<piece>.mp4"
std::string PieceName(const std::string& first, int piece) {
    size_t dot = first.rfind('.');
    std::string stem = first.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : first.substr(dot);
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, "_000") == 0) stem.resize(stem.size() - 4);
    char number[16];
    snprintf(number, sizeof number, "_%03d", piece);
    return stem + number + extension;
}

struct Piece {
    std::string path;
    bool ranOut = false;
    bool interrupted = false;
};

// The input with its streams selected and its readers started: what a piece
// is written from.
struct PieceSource {
    Converter converter;
    InputFile input;
    StreamSelection streams;
};

std::unique_ptr<PieceSource> OpenSource(const std::string& path, const std::string& extension,
                                        const StreamFilter& filter) {
    auto source = std::make_unique<PieceSource>();
    source->input = AddInput(source->converter.Get(), path);
    source->streams = ChooseStreams(source->input, filter, extension.empty() ? ExtensionOf(path) : extension);
    SelectStreams(source->converter.Get(), source->input, source->streams.chosen);
    StartReading(source->converter.Get());
    return source;
}

Piece WritePiece(PieceSource& source, const std::string& folder, const std::string& extension, int64_t bytes,
                 int64_t startSeconds, int index, double seconds, bool quiet, const OutputChoice& outputs) {
    IStreamwright* converter = source.converter.Get();
    const InputFile& input = source.input;
    ClipRange range{startSeconds, bytes, 0};
    if (converter->AddSizeClip(input.id, &range) != KX_S_OK) Fail("the component refused a size clip of " + input.path);
    TaskSettings settings =
        SettingsFor(TaskKind::kSplit, folder, {&input}, "piece " + std::to_string(index + 1), seconds, quiet, outputs);
    settings.extension = extension;
    TaskResult result = RunTask(converter, settings);
    Piece piece;
    piece.interrupted = result.interrupted;
    if (!result.outputs.empty()) {
        piece.path = result.outputs[0];
        piece.ranOut = result.ranOut[0];
    }
    return piece;
}

// Gives a piece its name; a name that is taken stays as it is unless overwriting.
void NamePiece(const std::string& written, const std::string& name, const OutputChoice& outputs) {
    const int error = outputs.overwrite ? kx::RenameReplacing(written.c_str(), name.c_str())
                                        : kx::RenameNoReplace(written.c_str(), name.c_str());
    if (error == 0) return;
    RemoveOutputs({written});
    if (error == EEXIST) Fail("the output " + name + " already exists (--overwrite replaces it)");
    Fail("cannot write " + name + ": " + std::strerror(error));
}

}  // namespace

int SplitBySize(const std::string& path, const std::string& folder, const std::string& extension, int64_t bytes,
                bool quiet, const OutputChoice& outputs, const StreamFilter& filter) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) Fail("cannot read " + path + ": " + std::strerror(errno));
    const double fileBytes = static_cast<double>(status.st_size);

    // The readers that index the key frames write the first piece too; each
    // later piece opens the input afresh, one task per converter.
    std::unique_ptr<PieceSource> source = OpenSource(path, extension, filter);
    const StreamSelection streams = source->streams;
    const std::vector<KeyFrameRecord> keyFrames = IndexKeyFrames(source->converter.Get(), source->input, quiet);
    const double durationSeconds = source->input.desc.duration;
    const int64_t duration = source->input.desc.DurationTicks();
    const double pieceSeconds = fileBytes > 0 ? durationSeconds * static_cast<double>(bytes) / fileBytes : 0;

    TaskResult all;
    int64_t startSeconds = 0;
    try {
        for (int index = 0;; ++index) {
            if (index >= kMaxPieces) Fail("--size " + std::to_string(bytes) + " would make more than " + std::to_string(kMaxPieces) + " pieces");
            if (!source) source = OpenSource(path, extension, filter);
            Piece piece = WritePiece(*source, folder, extension, bytes, startSeconds, index, pieceSeconds, quiet, outputs);
            source.reset();  // released before the piece's length is read and the next one opened
            if (piece.path.empty()) {
                all.interrupted = piece.interrupted;
                break;
            }
            std::string name = all.outputs.empty() ? piece.path : PieceName(all.outputs.front(), index);
            if (name != piece.path) NamePiece(piece.path, name, outputs);
            all.outputs.push_back(name);
            if (piece.interrupted) {
                all.interrupted = true;
                break;
            }
            if (piece.ranOut) break;

            int64_t pieceStart = KeyFrameAtOrBefore(keyFrames, startSeconds * kTicksPerSecond);
            int64_t end = pieceStart + static_cast<int64_t>(DurationOf(name) * kTicksPerSecond);
            if (end >= duration) break;
            int64_t next = end / kTicksPerSecond;
            if (KeyFrameAtOrBefore(keyFrames, next * kTicksPerSecond) <= pieceStart)
                Fail("--size " + std::to_string(bytes) + " is too small for " + path +
                     ": a piece must reach past the next key frame and whole second (the first piece covers " +
                     FormatClock(end - pieceStart) + ")");
            startSeconds = next;
        }
    } catch (const CliError&) {
        // A failed split leaves no piece behind.
        RemoveOutputs(all.outputs);
        throw;
    }
    if (all.outputs.empty() && !all.interrupted) Fail("the split wrote no output file");
    SayLeftOut(streams, quiet);
    PrintOutputs(all, quiet);
    if (all.interrupted) throw CliError("interrupted; the files listed above are complete", kExitInterrupted);
    return 0;
}

}  // namespace kxcli
