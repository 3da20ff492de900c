// CTMuxer: the output context's life, from the capability check to the trailer.
#include "output/CTMuxer.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "media/MediaKernel.h"
#include "output/AnnexBFilter.h"
#include "output/FlacFrames.h"
#include "output/BlockFileWriter.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/WideString.h"
#include "task/FileRecord.h"

namespace {

constexpr size_t kMaxNarrowName = 1024;  // bytes, terminator included

// Text from the last '.' to the end ("" without a '.').
std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string UpperCasedAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

CTMuxer::CTMuxer() = default;

CTMuxer::~CTMuxer() { Abandon(); }

bool CTMuxer::OpenOutputIo() {
    int fd = -1;
    kx::WriteStatus created = kx::PartialFile::Create(fileName_, fileOptions_, &file_, &fd);
    if (!created.ok()) {
        Fail(created.failure());
        return false;
    }
    fileWriter_ = kx::BlockFileWriter::Adopt(fd);
    if (!fileWriter_) {
        Fail(kx::SystemFailure(kx::OutputStep::kCreate, fileName_, ENOMEM));
        file_.reset();
        return false;
    }
    context_->pb = fileWriter_->Context();
    // Left at its default the library empties the byte buffer after every
    // packet: one write system call per packet instead of per block.
    context_->flush_packets = 0;
    return true;
}

int CTMuxer::CloseOutputIo(bool sync) {
    if (!fileWriter_) return 0;
    const int result = fileWriter_->Close(sync);  // flushes and frees the context it lent
    fileWriter_.reset();
    if (context_) context_->pb = nullptr;
    return result;
}

kx::OutputFailure CTMuxer::RefusedHeader(int averror, const std::string& libraryText) const {
    kx::OutputFailure failure = kx::LibraryFailure(kx::OutputStep::kHeader, fileName_, averror);
    failure.systemError = 0;
    failure.reason = "the container refuses the streams' parameters (" +
                     (libraryText.empty() ? failure.reason : libraryText) + ")";
    return failure;
}

void CTMuxer::Fail(kx::OutputFailure failure) {
    if (failure_) return;
    LogFormat(u"CTMuxer output failed: %S\n", failure.Text().c_str());
    failure_ = std::move(failure);
}

int CTMuxer::IoError() const {
    if (!context_ || !context_->pb || context_->pb->error >= 0) return 0;
    return context_->pb->error;
}

void CTMuxer::FreeContext() {
    // The stream table points into the context: it goes first.
    streams_.clear();
    if (context_) avformat_free_context(context_);
    context_ = nullptr;
    headerWritten_ = false;
}

const char* CTMuxer::GetOutputFormatName(const char16_t* fileName, const kx::MediaStreamPair* pair) {
    if (!fileName || !pair || (!pair->audio && !pair->video)) return nullptr;
    if (ExtensionOf(kx::WideToUtf8(fileName, kx::WideLength(fileName))) != ".mpg") return nullptr;
    const int32_t videoCodec = pair->video ? pair->video->codecId : -1;
    if (videoCodec == 1) return "mpeg";
    if (videoCodec == 28) return "svcd";
    return "dvd";
}

int32_t CTMuxer::OpenMuxer(const char16_t* fileName, const kx::MediaStreamPair* pair) {
    if (context_) return -1;  // one file per muxer
    // The capability check names codecs through the codec table; it is
    // normally built when the first input is opened.
    kx::BuildCodecNameTable();
    verdict_ = kx::CheckContainer(fileName, pair);
    if (!fileName || !verdict_.accepted()) {
        LogText(kx::legacy::kContainerRefused);
        return -1;
    }
    // The whole name is kept; WriteHeader refuses one too long for the library.
    fileName_.assign(fileName);
    const std::string narrowName = kx::WideToUtf8(fileName_);
    upperExtension_ = UpperCasedAscii(ExtensionOf(narrowName));

    kx::InitMediaKernel();
    kx::SilenceMediaLibraryLog();

    AVFormatContext* context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, GetOutputFormatName(fileName, pair), narrowName.c_str());
    if (!context) {
        kx::OutputFailure failure;
        failure.step = kx::OutputStep::kCheck;
        failure.path = fileName_;
        failure.reason = "the media library has no container for " +
                         (upperExtension_.empty() ? std::string("names without an extension") : ExtensionOf(narrowName) + " files");
        Fail(failure);
        return -1;
    }
    if (context->url && std::strlen(context->url) >= kMaxNarrowName) context->url[kMaxNarrowName - 1] = '\0';
    context_ = context;
    return 0;
}

int32_t CTMuxer::WriteHeader() {
    if (!context_ || headerWritten_ || failure_) return -1;
    if (!(context_->oformat->flags & AVFMT_NOFILE)) {
        // The library keeps names of at most 1023 bytes.
        char name[kMaxNarrowName];
        if (!kx::WideToUtf8Fixed(fileName_.c_str(), name, sizeof(name)) || name[0] == '\0') {
            Fail(kx::SystemFailure(kx::OutputStep::kCheck, fileName_, ENAMETOOLONG));
            return -1;
        }
        kx::WriteStatus usable = kx::PartialFile::CheckName(fileName_, fileOptions_);
        if (!usable.ok()) {
            Fail(usable.failure());
            return -1;
        }
        if (!OpenOutputIo()) return -1;
    }
    kx::MediaErrorCapture libraryError;
    // Matroska's optional CRC-32 elements: a third of the writer's time, and
    // no reader we know of checks them (mkvmerge does not write them either).
    AVDictionary* options = nullptr;
    if (FormatIs("matroska") || FormatIs("webm")) av_dict_set(&options, "write_crc32", "0", 0);
    const int result = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (result < 0) {
        // A header that cannot be written is the system's failure; one the
        // container refuses, the streams'. Either way the file goes.
        if (const int ioError = IoError())
            Fail(kx::LibraryFailure(kx::OutputStep::kHeader, fileName_, ioError));
        else
            Fail(RefusedHeader(result, libraryError.LastError()));
        CloseOutputIo(false);
        file_.reset();
        return -1;
    }
    headerWritten_ = true;
    return 0;
}

kx::WriteStatus CTMuxer::Finish() {
    if (!context_) return failure_ ? kx::WriteStatus(*failure_) : kx::WriteStatus();
    if (!failure_ && headerWritten_) {
        AttachChapters();
        const int result = av_write_trailer(context_);
        if (result < 0) {
            const int ioError = IoError();
            Fail(kx::LibraryFailure(kx::OutputStep::kTrailer, fileName_, ioError ? ioError : result));
        }
    }
    const int closed = CloseOutputIo(fileOptions_.sync && !failure_);
    if (closed < 0) Fail(kx::LibraryFailure(kx::OutputStep::kClose, fileName_, closed));
    FreeContext();
    if (failure_) {
        file_.reset();
        return *failure_;
    }
    if (file_) {
        kx::WriteStatus named = file_->Commit();
        file_.reset();
        if (!named.ok()) {
            Fail(named.failure());
            return named;
        }
    }
    return {};
}

int32_t CTMuxer::CloseMuxer() { return Finish().ok() ? 0 : -1; }

void CTMuxer::Abandon() {
    CloseOutputIo(false);
    FreeContext();
    file_.reset();
}

CTMuxer::OutputStreamEntry* CTMuxer::FindEntry(int32_t key) {
    auto it = streams_.find(key);
    return it == streams_.end() ? nullptr : &it->second;
}

bool CTMuxer::FormatIs(const char* name) const {
    return context_ && context_->oformat && context_->oformat->name && std::strcmp(context_->oformat->name, name) == 0;
}

bool CTMuxer::ExtensionIs(const char* upperExtension) const { return upperExtension_ == upperExtension; }

// An output that nobody finished is incomplete: it is dropped, not kept.
void kx::MuxerDeleter::operator()(CTMuxer* muxer) const { delete muxer; }
