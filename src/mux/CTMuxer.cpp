// CTMuxer: the output context's life, from the capability check to the trailer.
#include "mux/CTMuxer.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "converter/FileRecord.h"
#include "log/KX_Log.h"
#include "media/MediaKernel.h"
#include "mux/AnnexBFilter.h"
#include "mux/BackgroundFileWriter.h"
#include "platform/Thread.h"
#include "platform/WideString.h"

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

CTMuxer::~CTMuxer() {
    streams_.clear();  // filters first: they do not depend on the context
    if (context_) {
        CloseOutputIo();
        avformat_free_context(context_);
        context_ = nullptr;
    }
}

bool CTMuxer::OpenOutputIo(const char* name) {
    if (name[0] == '\0') return false;
    // Only a plain path is a local file of ours; names with a protocol
    // (file: included) keep the library's meaning.
    const char* protocol = avio_find_protocol_name(name);
    if (protocol && std::strcmp(protocol, "file") == 0 && std::strncmp(name, "file:", 5) != 0) {
        fileWriter_ = kx::BackgroundFileWriter::Open(name);
        if (!fileWriter_) return false;
        context_->pb = fileWriter_->Context();
        return true;
    }
    return avio_open(&context_->pb, name, AVIO_FLAG_WRITE) >= 0;
}

void CTMuxer::CloseOutputIo() {
    if (fileWriter_) {
        fileWriter_->Close();  // flushes and frees the context it lent
        fileWriter_.reset();
        context_->pb = nullptr;
    } else if (context_->pb && !(context_->oformat->flags & AVFMT_NOFILE)) {
        avio_closep(&context_->pb);
    }
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
    if (!fileName || !kx::CHECKMuxerValid(fileName, pair)) {
        LogText(u"CTMuxer::OpenMuxer CHECKMuxerValid failed\n");
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
    if (!context) return -1;
    if (context->url && std::strlen(context->url) >= kMaxNarrowName) context->url[kMaxNarrowName - 1] = '\0';
    context_ = context;
    return 0;
}

int32_t CTMuxer::WriteHeader() {
    if (!context_ || headerWritten_) return -1;
    char name[kMaxNarrowName];
    // A name whose UTF-8 form does not fit stays empty, and opening fails.
    kx::WideToUtf8Fixed(fileName_.c_str(), name, sizeof(name));
    // Opening a pipe for writing waits for a reader, possibly forever.
    if (kx::NamesPipeOrSocket(fileName_.c_str())) return -1;
    if (!(context_->oformat->flags & AVFMT_NOFILE) && !OpenOutputIo(name)) return -1;
    if (avformat_write_header(context_, nullptr) < 0) return -1;
    headerWritten_ = true;
    return 0;
}

int32_t CTMuxer::CloseMuxer() {
    if (!context_) return 0;
    if (headerWritten_) av_write_trailer(context_);
    CloseOutputIo();
    // The stream table points into the context: it goes with it.
    streams_.clear();
    avformat_free_context(context_);
    context_ = nullptr;
    headerWritten_ = false;
    return 0;
}

CTMuxer::OutputStreamEntry* CTMuxer::FindEntry(int32_t key) {
    auto it = streams_.find(key);
    return it == streams_.end() ? nullptr : &it->second;
}

bool CTMuxer::FormatIs(const char* name) const {
    return context_ && context_->oformat && context_->oformat->name && std::strcmp(context_->oformat->name, name) == 0;
}

bool CTMuxer::ExtensionIs(const char* upperExtension) const { return upperExtension_ == upperExtension; }

void kx::MuxerDeleter::operator()(CTMuxer* muxer) const {
    if (!muxer) return;
    muxer->CloseMuxer();
    delete muxer;
}
