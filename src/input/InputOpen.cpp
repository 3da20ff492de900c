#include "input/InputOpen.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "input/InputLimits.h"
#include "media/MediaKernel.h"
#include "platform/WideString.h"

namespace kx {

namespace {

// The processor-time budget of the open running on this thread. Thread
// local, so that the library's interrupt callback needs no state of its own
// that would have to outlive the context: after the open, reads of the same
// context (on any thread) find no budget and go on.
struct OpenBudget {
    bool active = false;
    InputFault exceeded = InputFault::kNone;
    double deadline = 0;
    size_t heapAtStart = 0;
    size_t heapBudget = 0;
    double heapLooked = 0;  // processor time of the last look at the heap
};

// Looking at the heap walks the allocator's lists; once per this much
// processor time is enough to catch growth long before it matters.
constexpr double kHeapLookSeconds = 0.002;
thread_local OpenBudget t_budget;
// The name of a nested open refused during this thread's open.
thread_local std::string t_refusedName;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Bytes the process's heap holds, mapped blocks included. Under a memory
// checker that keeps its own heap this reads 0, and the bound is off.
size_t HeapInUse() {
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

// Called by the library between packets and on every read.
int InterruptWhenOverBudget(void*) {
    if (!t_budget.active) return 0;
    const double now = ThreadCpuSeconds();
    if (now >= t_budget.deadline) {
        t_budget.exceeded = InputFault::kTooSlow;
        return 1;
    }
    if (now - t_budget.heapLooked < kHeapLookSeconds) return 0;
    t_budget.heapLooked = now;
    const size_t heap = HeapInUse();
    if (heap > t_budget.heapAtStart && heap - t_budget.heapAtStart > t_budget.heapBudget) {
        t_budget.exceeded = InputFault::kTooLarge;
        return 1;
    }
    return 0;
}

class BudgetScope {
public:
    explicit BudgetScope(int64_t fileBytes) {
        t_budget.active = true;
        t_budget.heapBudget = OpenHeapBudget(fileBytes);
        t_budget.exceeded = InputFault::kNone;
        t_budget.deadline = ThreadCpuSeconds() + kOpenCpuSeconds;
        t_budget.heapAtStart = HeapInUse();
        t_budget.heapLooked = ThreadCpuSeconds();
        t_refusedName.clear();
    }
    ~BudgetScope() { t_budget.active = false; }
    BudgetScope(const BudgetScope&) = delete;
    BudgetScope& operator=(const BudgetScope&) = delete;
    // kTooSlow or kTooLarge with the limit, or no fault.
    InputProblem Exceeded() const {
        switch (t_budget.exceeded) {
            case InputFault::kTooSlow: return {InputFault::kTooSlow, std::to_string(kOpenCpuSeconds)};
            case InputFault::kTooLarge: return {InputFault::kTooLarge, std::to_string(t_budget.heapBudget >> 20)};
            default: return {};
        }
    }
};

using IoOpen = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);

IoOpen LibraryIoOpen() {
    static const IoOpen open = [] {
        AVFormatContext* probe = avformat_alloc_context();
        IoOpen found = probe ? probe->io_open : nullptr;
        avformat_free_context(probe);
        return found;
    }();
    return open;
}

// A context reads its own name and nothing else: a demuxer that asks for
// another file (a playlist entry, a subtitle pair, a referenced movie)
// gets "permission denied".
int OpenOnlyItself(AVFormatContext* context, AVIOContext** io, const char* url, int flags, AVDictionary** options) {
    IoOpen open = LibraryIoOpen();
    if (open && url && context->url && std::strcmp(url, context->url) == 0) return open(context, io, url, flags, options);
    t_refusedName = url ? url : "";
    return AVERROR(EPERM);
}

std::string KindOfNonFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

// The checks a name passes before the media library sees it. On success the
// library's name: "file:" and the absolute path, which no protocol prefix,
// option syntax or pattern inside the name can turn into anything else.
InputProblem CheckLocalName(const std::u16string& path, std::string* url, int64_t* bytes) {
    const std::string name = WideToUtf8(path);
    if (name.empty()) return {InputFault::kNoSuchFile, {}};
    if (name.size() > kMaxInputNameBytes) return {InputFault::kNameTooLong, std::to_string(name.size())};
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) {
        if (errno == ENOENT) return {InputFault::kNoSuchFile, {}};
        return {InputFault::kUnreadable, std::strerror(errno)};
    }
    if (!S_ISREG(status.st_mode)) return {InputFault::kNotAFile, KindOfNonFile(status.st_mode)};
    if (access(name.c_str(), R_OK) != 0) return {InputFault::kUnreadable, std::strerror(errno)};
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(name, error);
    if (error) return {InputFault::kUnreadable, error.message()};
    *url = "file:" + absolute.string();
    *bytes = static_cast<int64_t>(status.st_size);
    return {};
}

AVIOContext* OpenProbeIo(const InputSource& source, const std::string& url) {
    if (source.bytes) return OpenMemoryInput(source.bytes);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVIOContext* io = nullptr;
    if (avio_open2(&io, url.c_str(), AVIO_FLAG_READ, nullptr, &options) < 0) io = nullptr;
    av_dict_free(&options);
    return io;
}

void CloseProbeIo(const InputSource& source, AVIOContext** io) {
    if (source.bytes)
        CloseMemoryInput(io);
    else
        avio_closep(io);
}

// The format the library takes the input for, or null: by its name first
// (image sequences are known by their names), then by its bytes.
const AVInputFormat* ProbeFormat(const InputSource& source, const std::string& url) {
    AVProbeData byName{};
    byName.filename = url.c_str();
    if (const AVInputFormat* named = av_probe_input_format(&byName, 0)) return named;
    AVIOContext* io = OpenProbeIo(source, url);
    if (!io) return nullptr;
    const AVInputFormat* format = nullptr;
    if (av_probe_input_buffer2(io, &format, url.c_str(), nullptr, 0, 0) < 0) format = nullptr;
    CloseProbeIo(source, &io);
    return format;
}

std::string FormatName(const AVInputFormat* format) {
    std::string name = format->name;
    if (format->long_name && *format->long_name) name += std::string(" (") + format->long_name + ")";
    return name;
}

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Why avformat_open_input failed, in the order the causes can hide each other.
InputProblem ExplainOpenFailure(const InputSource& source, const std::string& url, int error,
                                const MediaErrorCapture& capture, const InputProblem& overBudget) {
    if (overBudget.Failed()) return overBudget;
    if (!t_refusedName.empty()) {
        std::string name = t_refusedName;
        if (name.rfind("file:", 0) == 0) name.erase(0, 5);
        return {InputFault::kNamesOtherFile, name};
    }
    // The memory budget is judged above, so the one allocation a header can be
    // refused is a stream past the cap set in OpenOptions; demuxers that stop
    // there fail with ENOMEM.
    if (error == AVERROR(ENOMEM)) return {InputFault::kTooManyStreams, std::to_string(kMaxInputStreams)};
    // Only a format refused by the whitelist fails with EINVAL; broken media
    // fails otherwise and needs no second look.
    if (source.policy.linkedFiles == LinkedFiles::kRefuse && error == AVERROR(EINVAL)) {
        const AVInputFormat* format = ProbeFormat(source, url);
        if (format && ReadsOtherFiles(format)) return {InputFault::kLinksOtherFiles, FormatName(format)};
    }
    // A whitelist refusal fails with EINVAL, and its log line names our own
    // settings rather than anything about the file.
    const std::string& said = capture.LastError();
    return {InputFault::kNotMedia, said.empty() || error == AVERROR(EINVAL) ? ErrorText(error) : said};
}

}  // namespace

InputSource InputSource::File(std::u16string path, InputPolicy policy) {
    InputSource source;
    source.path = std::move(path);
    source.policy = policy;
    return source;
}

InputSource InputSource::Memory(InputBytes bytes, std::u16string label) {
    InputSource source;
    source.path = std::move(label);
    source.bytes = std::move(bytes);
    return source;
}

void GenerateMissingPtsAsReaders(AVFormatContext* context) {
    bool reordered = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* codec = context->streams[i]->codecpar;
        reordered = reordered || (codec->codec_type == AVMEDIA_TYPE_VIDEO && codec->video_delay > 0);
    }
    if (reordered)
        context->flags |= AVFMT_FLAG_GENPTS;
    else
        context->flags &= ~AVFMT_FLAG_GENPTS;
}

OpenedInput OpenInput(const InputSource& source, ProbeDepth depth, MissingPts pts) {
    InitMediaKernel();
    OpenedInput opened;
    std::string url = "memory";
    int64_t bytes = source.bytes ? static_cast<int64_t>(source.bytes->size()) : 0;
    if (!source.bytes) {
        opened.problem = CheckLocalName(source.path, &url, &bytes);
        if (opened.problem.Failed()) return opened;
    }

    MediaErrorCapture capture;
    AVFormatContext* context = avformat_alloc_context();
    AVIOContext* memory = source.bytes ? OpenMemoryInput(source.bytes) : nullptr;
    if (!context || (source.bytes && !memory)) {
        avformat_free_context(context);
        CloseMemoryInput(&memory);
        opened.problem = {InputFault::kUnreadable, "out of memory"};
        return opened;
    }
    if (pts == MissingPts::kGenerate) context->flags |= AVFMT_FLAG_GENPTS;
    context->interrupt_callback.callback = &InterruptWhenOverBudget;
    if (source.policy.linkedFiles == LinkedFiles::kRefuse) context->io_open = &OpenOnlyItself;
    context->pb = memory;  // the library marks it as ours and leaves it open

    BudgetScope budget(bytes);
    AVDictionary* options = OpenOptions(source.policy.linkedFiles == LinkedFiles::kAllow);
    const int result = avformat_open_input(&context, url.c_str(), source.format, &options);
    av_dict_free(&options);
    if (result < 0) {  // the context is freed, our I/O context is not
        CloseMemoryInput(&memory);
        opened.problem = ExplainOpenFailure(source, url, result, capture, budget.Exceeded());
        return opened;
    }

    auto refuse = [&](InputProblem problem) {
        CloseInput(&context);
        opened.problem = std::move(problem);
        return opened;
    };
    if (context->nb_streams > kMaxInputStreams)
        return refuse({InputFault::kTooManyStreams, std::to_string(kMaxInputStreams)});
    if (depth == ProbeDepth::kStreamInfo) {
        const unsigned described = context->nb_streams;
        AVDictionary** decoderOptions = ProbeDecoderOptions(context, bytes);
        const int found = avformat_find_stream_info(context, decoderOptions);
        FreeStreamOptions(decoderOptions, described);
        if (budget.Exceeded().Failed()) return refuse(budget.Exceeded());
        if (context->nb_streams > kMaxInputStreams)
            return refuse({InputFault::kTooManyStreams, std::to_string(kMaxInputStreams)});
        if (found < 0) {
            const std::string& said = capture.LastError();
            return refuse({InputFault::kNotMedia, said.empty() ? ErrorText(found) : said});
        }
    }
    if (budget.Exceeded().Failed()) return refuse(budget.Exceeded());
    opened.context = context;
    return opened;
}

void CloseInput(AVFormatContext** context) {
    if (!context || !*context) return;
    AVIOContext* memory = ((*context)->flags & AVFMT_FLAG_CUSTOM_IO) ? (*context)->pb : nullptr;
    avformat_close_input(context);
    CloseMemoryInput(&memory);
}

int64_t CurrentInputBytes(AVFormatContext* context) {
    if (!context || !context->pb) return -1;
    const int64_t size = avio_size(context->pb);
    return size < 0 ? -1 : size;
}

}  // namespace kx
