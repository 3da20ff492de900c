#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "input/CTSingleTDemuxer.h"
#include "platform/WideString.h"

namespace kxtest {

std::string Fixture(const std::string& name) { return std::string(KX_FIXTURE_DIR) + "/" + name; }
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::u16string Wide(const std::string& utf8) { return kx::Utf8ToWide(utf8); }
std::string Narrow(const std::u16string& wide) { return kx::WideToUtf8(wide); }

LogCapture::LogCapture() { KX_SetLogSink(&LogCapture::Sink, this); }
LogCapture::~LogCapture() { KX_SetLogSink(nullptr, nullptr); }

void LogCapture::Sink(void* context, const OLECHAR* line) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.emplace_back(line);
}

std::vector<std::u16string> LogCapture::Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool LogCapture::Contains(const std::u16string& line) {
    for (const auto& l : Lines())
        if (l == line) return true;
    return false;
}

IStreamwright* CreateConverter() {
    IClassFactory* factory = nullptr;
    if (DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, reinterpret_cast<void**>(&factory)) != KX_S_OK)
        return nullptr;
    IStreamwright* converter = nullptr;
    factory->CreateInstance(nullptr, &IID_IStreamwright, reinterpret_cast<void**>(&converter));
    factory->Release();
    return converter;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode) *exitCode = -1;
        return output;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    int status = pclose(pipe);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::stringstream stream(text);
    for (std::string piece; std::getline(stream, piece, separator);) pieces.push_back(piece);
    return pieces;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (auto& line : Split(text, '\n'))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

MediaInput OpenMediaInput(const std::string& path, int* error) {
    AVFormatContext* context = nullptr;
    int status = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
    MediaInput input(status < 0 ? nullptr : context);
    if (input && (status = avformat_find_stream_info(context, nullptr)) < 0) input.reset();
    if (error) *error = status;
    return input;
}

void ForEachPacket(AVFormatContext* input, const std::function<void(AVPacket*)>& each) {
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(input, packet) >= 0) {
        each(packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
}

std::string DecodeErrors(const std::string& path) {
    return RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1");
}

std::vector<std::string> FrameHashes(const std::string& path, const std::string& options, const std::string& stream) {
    std::vector<std::string> hashes;
    for (const auto& line : Lines(RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0:" + stream +
                                             " -fps_mode passthrough " + options + " -f framemd5 - 2>/dev/null"))) {
        if (line[0] == '#' || line.find(',') == std::string::npos) continue;
        std::string hash = Split(line, ',').back();
        hashes.push_back(hash.substr(hash.find_first_not_of(' ')));
    }
    return hashes;
}

std::unique_ptr<kx::CTSingleTDemuxer> OpenReader(const std::string& file, int stream) {
    auto reader = std::make_unique<kx::CTSingleTDemuxer>();
    reader->Initialize();
    if (reader->Open(Wide(file).c_str(), 0) != 0 || reader->AddStream(stream) != 0 || reader->StartDemuxer() != 0)
        return nullptr;
    return reader;
}

std::vector<Packet> ReadControl(kx::ITDemuxerControl* control, bool release) {
    std::vector<Packet> packets;
    AVPacket* packet = av_packet_alloc();
    kx::SampleInfo info;
    while (control->ReadNext() == 1 && control->GetSampleInfo(&info) && control->GetPacket(packet) == 1) {
        packets.push_back(
            {packet->stream_index, packet->pts, packet->dts, (packet->flags & AV_PKT_FLAG_KEY) != 0, packet->size});
        EXPECT_EQ(info.pts, packet->pts) << "the info describes another packet";
        av_packet_unref(packet);
        if (release) control->SetSampleReady(0);
    }
    av_packet_free(&packet);
    return packets;
}

std::map<std::string, std::string> ProbeStream(const std::string& file, int stream) {
    std::map<std::string, std::string> values;
    for (const auto& line : Lines(RunCommand("ffprobe -v error -select_streams " + std::to_string(stream) +
                                             " -show_streams -of default=nw=1 " + Quote(file)))) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return values;
}

AVRational ProbeTimeBase(const std::string& file, int stream) {
    auto ratio = Split(ProbeStream(file, stream)["time_base"], '/');
    if (ratio.size() != 2) return AVRational{0, 1};
    return AVRational{std::stoi(ratio[0]), std::stoi(ratio[1])};
}

namespace {

int64_t ToTicks(const std::string& value, AVRational tb) {
    if (value.empty() || value == "N/A") return kx::kNoPts;
    return av_rescale(std::stoll(value), int64_t(tb.num) * 10'000'000, tb.den);
}

}  // namespace

std::vector<Packet> ProbeTicks(const std::string& file, int stream) {
    auto values = ProbeStream(file, stream);
    AVRational tb = ProbeTimeBase(file, stream);
    const bool reordered = values["codec_type"] == "video" && values["has_b_frames"] != "0";
    std::string out =
        RunCommand("ffprobe -v error " + std::string(reordered ? "-fflags +genpts " : "") + "-select_streams " +
                   std::to_string(stream) + " -show_entries packet=pts,dts,duration,size,flags -of csv " + Quote(file));
    std::vector<Packet> packets;
    for (const auto& line : Lines(out)) {
        auto f = Split(line, ',');
        if (f.size() < 6 || f[0] != "packet") continue;
        Packet p;
        p.stream = stream;
        p.pts = ToTicks(f[1], tb);
        p.dts = ToTicks(f[2], tb);
        if (p.pts == kx::kNoPts) p.pts = p.dts;
        p.duration = f[3].empty() || f[3] == "N/A" ? 0 : ToTicks(f[3], tb);
        p.size = std::stoi(f[4]);
        p.key = !f[5].empty() && f[5][0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

int64_t ClockZero(const std::string& file, const std::vector<int>& streams) {
    bool any = false;
    int64_t zero = 0;
    for (int s : streams) {
        int64_t start = ToTicks(ProbeStream(file, s)["start_pts"], ProbeTimeBase(file, s));
        if (start == kx::kNoPts) continue;
        zero = any ? std::min(zero, start) : start;
        any = true;
    }
    return zero;
}

std::vector<Packet> ProbeTicksOnClock(const std::string& file, int stream, int64_t zero) {
    auto packets = ProbeTicks(file, stream);
    for (auto& p : packets) {
        if (p.pts != kx::kNoPts) p.pts -= zero;
        if (p.dts != kx::kNoPts) p.dts -= zero;
    }
    return packets;
}

std::vector<KeyFrameRecord> ProbeKeyFrames(const std::string& file, int stream, int64_t zero) {
    std::vector<KeyFrameRecord> records;
    auto packets = ProbeTicksOnClock(file, stream, zero);
    for (size_t i = 0; i < packets.size(); ++i) {
        if (!packets[i].key) continue;
        KeyFrameRecord record{};
        record.keyFrameNumber = static_cast<int32_t>(records.size());
        record.time = packets[i].pts == kx::kNoPts ? 0 : packets[i].pts;
        record.frameNumber = static_cast<int64_t>(i);
        records.push_back(record);
    }
    return records;
}

void ExpectKeyFrames(const KeyFrameRecord* got, int64_t count, const std::vector<KeyFrameRecord>& want,
                     const std::string& what) {
    ASSERT_EQ(count, static_cast<int64_t>(want.size())) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].keyFrameNumber, want[i].keyFrameNumber) << what << " #" << i;
        EXPECT_EQ(got[i].time, want[i].time) << what << " #" << i;
        EXPECT_EQ(got[i].frameNumber, want[i].frameNumber) << what << " #" << i;
    }
}

}  // namespace kxtest
