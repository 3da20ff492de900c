// remuxion: split, merge and mix media files without re-encoding, and show
// what is in them. A host of libKX_Remuxion.so like any other: it loads the
// library at run time and uses only its public interface.
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "Component.h"
#include "Console.h"
#include "Interrupt.h"
#include "LibraryLog.h"

#ifndef KX_CLI_VERSION
#define KX_CLI_VERSION "0"
#endif

namespace kxcli {

namespace {

const char* const kUsage = R"(usage: remuxion COMMAND [OPTIONS]

Copies compressed streams between containers without re-encoding.

commands:
  info FILE... [--json]          programs, streams, codecs, languages, sizes, rates,
                                 durations, bit rates, the containers each stream
                                 copies into; with several files, whether they merge
  keyframes FILE [--json]        the key-frame times of the first video stream
  split FILE -o DIR CLIPS        cut into clips, one file each, CLIPS being one of
      --at T1,T2,...             cut points: [0,T1), [T1,T2), ..., [Tn,end)
      --every DURATION           clips of that duration
      --size BYTES               pieces of about BYTES each (k, M, G allowed)
      --clip START+LENGTH        one clip (repeat for more)
    --ext .mkv                   write another container than the input's
    --any-frame                  let clips start at any frame, not only key frames
    --exact                      start and end each clip at exactly the frame asked
                                 for: the frames between a cut and the nearest key
                                 frame inside the clip are encoded again (H.264),
                                 the rest copied; says per clip how many
  merge FILE... -o OUT           join whole files one after another
  mix FILE [--stream N]... -o OUT
                                 one stream of each file side by side; --stream N
                                 chooses stream N of the FILE before it

Streams: split and merge copy every video, audio and subtitle stream the
output container holds (a subtitle it cannot hold is left out, with a line
saying so); mix takes the first video or audio stream of each file. Choose with
  --streams 0,1,3                exactly these streams, numbered as info shows them
  --no-subtitles, --audio-only, --video-only
Times: seconds (90, 12.5) or [HH:]MM:SS[.mmm].
Outputs of split, merge and mix are written under a temporary name and take
their own names only when complete. An existing file is never replaced, unless
  --overwrite (-y)               outputs replace files of their names (never an input)
  --fsync                        each output is synced to the disk when complete
Inputs are local files read under their exact names. An input that ends
before its index or duration says (cut short, or cut while being read) fails
split, merge and mix like any failure, unless
  --allow-truncated              it is a warning, and the outputs keep what it held
Options for every command: --quiet (-q) no progress, just the output names (one
per line; \, newlines and other control characters written as \\, \n, \xHH),
--help (-h), --version; "--" ends the options (for FILEs starting with "-").
Exit status: 0 success, 1 failure (nothing is left behind), 2 bad arguments,
130 interrupted (complete split clips stay; an unfinished output is removed).
)";

int Dispatch(const std::string& command, const Arguments& args) {
    if (command == "info") return RunInfo(args);
    if (command == "keyframes") return RunKeyFrames(args);
    if (command == "split") return RunSplit(args);
    if (command == "merge") return RunMerge(args);
    if (command == "mix") return RunMix(args);
    UsageError("unknown command '" + command + "' (commands: info, keyframes, split, merge, mix)");
}

bool WantsHelp(const Arguments& args) {
    for (const auto& arg : args) {
        if (arg == "--") return false;
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

int Main(int argc, char** argv) {
    SetUpConsole();
    Arguments all(argv + 1, argv + argc);
    if (all.empty()) {
        fputs(kUsage, Err());
        return kExitUsage;
    }
    if (all[0] == "--help" || all[0] == "-h" || all[0] == "help" || WantsHelp(all)) {
        fputs(kUsage, Out());
        return 0;
    }
    if (all[0] == "--version") {
        fprintf(Out(), "remuxion %s\n", KX_CLI_VERSION);
        return 0;
    }
    int status = kExitFailure;
    bool capturing = false;
    try {
        Component();  // the library first: without it nothing else can answer
        SilenceLibraryLog();
        capturing = true;
        InstallInterruptHandler();
        status = Dispatch(all[0], Arguments(all.begin() + 1, all.end()));
    } catch (const CliError& error) {
        fprintf(Err(), "remuxion: %s\n", error.what());
        status = error.ExitCode();
    } catch (const std::exception& error) {
        fprintf(Err(), "remuxion: %s\n", error.what());
        status = kExitFailure;
    }
    if (capturing) Component().setLogSink(nullptr, nullptr);
    // What was printed must have arrived: a listing cut short is a failure.
    if (const int outError = OutError()) {
        fprintf(Err(), "remuxion: cannot write the standard output: %s\n", std::strerror(outError));
        if (status == 0) status = kExitFailure;
    }
    return status;
}

}  // namespace

}  // namespace kxcli

int main(int argc, char** argv) {
    // The component's worker thread and the main thread never allocate much
    // at the same time (the main thread waits); one heap instead of one per
    // thread keeps the memory the demuxers free for the muxers to reuse.
    mallopt(M_ARENA_MAX, 1);
    return kxcli::Main(argc, argv);
}
