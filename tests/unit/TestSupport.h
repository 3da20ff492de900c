// Shared helpers for the unit tests: fixture paths, log capture, converter
// creation, and ffprobe/ffmpeg as the judges of media.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "KX_Remuxion.h"
#include "input/DemuxTypes.h"

namespace kx {
class CTSingleTDemuxer;
class ITDemuxerControl;
}  // namespace kx

namespace kxtest {

std::string Fixture(const std::string& name);

using Bytes = std::vector<uint8_t>;
Bytes Concat(std::initializer_list<Bytes> parts);
std::u16string Wide(const std::string& utf8);
std::string Narrow(const std::u16string& wide);

// Captures log lines while alive (through the exported sink).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::u16string> Lines();
    bool Contains(const std::u16string& line);

private:
    static void Sink(void* context, const OLECHAR* line);
    std::mutex mutex_;
    std::vector<std::u16string> lines_;
};

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const std::u16string& text) : value_(SysAllocString(text.c_str())) {}
    explicit Bstr(const std::string& utf8) : Bstr(Wide(utf8)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value_; }

private:
    BSTR value_;
};

// A new converter through the class factory; released by the caller.
IStreamwright* CreateConverter();

// Runs a shell command, returns its standard output.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

// The text in single quotes for the shell.
std::string Quote(const std::string& text);
std::vector<std::string> Split(const std::string& text, char separator);
// The non-empty lines of a text.
std::vector<std::string> Lines(const std::string& text);
std::string ReadAll(const std::string& path);

// A file opened by the media library, its streams probed; null (with the
// library's error in *error) when it cannot be.
struct InputCloser {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};
using MediaInput = std::unique_ptr<AVFormatContext, InputCloser>;
MediaInput OpenMediaInput(const std::string& path, int* error = nullptr);
// Each packet of the file in file order, released once `each` returns.
void ForEachPacket(AVFormatContext* input, const std::function<void(AVPacket*)>& each);

// Lines that `ffmpeg -v error` prints while decoding the whole file.
std::string DecodeErrors(const std::string& path);
// MD5 of each decoded frame of one stream (0:v:0 unless told), in output
// order; `options` go before the output (a pixel format, say).
std::vector<std::string> FrameHashes(const std::string& path, const std::string& options = "",
                                     const std::string& stream = "v:0");

// A packet as ffprobe lists it, times in ticks (or kx::kNoPts).
struct Packet {
    int stream = -1;
    int64_t pts = 0;
    int64_t dts = 0;
    bool key = false;
    int size = 0;
    int64_t duration = 0;
};
// A started reader of one stream, with the file to itself; null when it cannot be.
std::unique_ptr<kx::CTSingleTDemuxer> OpenReader(const std::string& file, int stream);
// Every packet a reader's control hands out, in its order; `release` tells a
// lone reader that each sample was taken (a merging control knows).
std::vector<Packet> ReadControl(kx::ITDemuxerControl* control, bool release);

// key=value pairs of one stream (ffprobe -show_streams).
std::map<std::string, std::string> ProbeStream(const std::string& file, int stream);
AVRational ProbeTimeBase(const std::string& file, int stream);
// The packets of one stream. Where the container gives no pts, the readers
// take the decoding time of pictures that are not reordered and let the
// library guess the others.
std::vector<Packet> ProbeTicks(const std::string& file, int stream);
// The clock the readers keep for a selection of streams: 0 is the earliest
// start among them; 0 for an empty selection.
int64_t ClockZero(const std::string& file, const std::vector<int>& streams);
// ProbeTicks on the readers' clock.
std::vector<Packet> ProbeTicksOnClock(const std::string& file, int stream, int64_t zero);
// ffprobe's key packets of one stream as index records (pts 0 when unknown).
std::vector<KeyFrameRecord> ProbeKeyFrames(const std::string& file, int stream, int64_t zero = 0);
// Expects the records to be `want`.
void ExpectKeyFrames(const KeyFrameRecord* got, int64_t count, const std::vector<KeyFrameRecord>& want,
                     const std::string& what);

}  // namespace kxtest
