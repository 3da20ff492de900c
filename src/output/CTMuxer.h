// CTMuxer writes one output file: one container, one output stream per stream
// the copy engines select, packets passed through unchanged apart from the
// H.264 form the container needs. Nothing is decoded or encoded.
//
// Order of use: OpenMuxer, AddStream per stream, WriteHeader, WritePacket per
// packet, Finish (or CloseMuxer), delete. Operations answer 0 for success, -1
// for failure. One thread at a time.
//
// The file is written under a temporary name in its folder and takes its own
// name only when Finish has written the trailer and closed it; an output
// dropped before (Abandon, the destructor) leaves nothing behind. The first
// failure of the file (creating, writing, closing, naming) is kept as a value
// (Failure); packets after it are not written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "caps/LosslessCheck.h"
#include "input/DemuxTypes.h"
#include "input/StreamSummary.h"
#include "output/H264BitstreamForms.h"
#include "output/MediaStreamPair.h"
#include "output/OutputFailure.h"
#include "output/PartialFile.h"

struct AVFormatContext;
struct AVStream;
struct AVPacket;
struct AVCodecParameters;

namespace kx {
struct SourceStream;
class AnnexBFilter;
class FlacFrameNumbering;
class BlockFileWriter;
}

class CTMuxer {
public:
    CTMuxer();
    // Releases what the muxer owns. A file not finished is removed.
    ~CTMuxer();
    CTMuxer(const CTMuxer&) = delete;
    CTMuxer& operator=(const CTMuxer&) = delete;

    // Checks the streams against the capability table, then creates the
    // output context for the container that the name's extension asks for.
    int32_t OpenMuxer(const char16_t* fileName, const kx::MediaStreamPair* pair);

    // Adds an output stream described by `info` (copied; the caller keeps
    // its record). Packets written under `key` go to it; a key already added
    // keeps its first stream.
    int32_t AddStream(int32_t key, const kx::StreamMediaInfo* info);

    // Further H.264 or HEVC parameter sets (Annex B) the stream description carries
    // besides the source's, for pictures encoded into the copied stream;
    // before the video stream is added.
    void AddParameterSets(std::vector<uint8_t> annexB) { moreParameterSets_ = std::move(annexB); }

    // The file's tags, before WriteHeader.
    void SetFileTags(const std::vector<std::pair<std::string, std::string>>& tags);
    // Chapters (times in ticks on the output's clock), kept until the
    // trailer: only then is it known where a clip or a join ends.
    void AddChapters(const std::vector<kx::Chapter>& chapters);

    // How the file is created and named (before WriteHeader).
    void SetFileOptions(const kx::OutputFileOptions& options) { fileOptions_ = options; }

    // Creates the file (under its temporary name) and writes the container
    // header. On failure the file is gone again.
    int32_t WriteHeader();

    // Writes one packet whose pts, dts and duration are in 100-ns ticks. The
    // packet is changed in place (and left blank); the caller frees it.
    // Returns the container writer's result, -1 for an unknown key or after
    // a failure of the file, 0 for an H.264 packet dropped because of a bad
    // length prefix. A packet the container refuses (its times, say) is not
    // a failure of the file; a write that fails is.
    int32_t WritePacket(int32_t key, AVPacket* packet);
    int32_t WriteVideoPacket(int32_t key, AVPacket* packet);
    int32_t WriteAudioPacket(int32_t key, AVPacket* packet);
    int32_t WriteSubtitlePacket(int32_t key, AVPacket* packet);

    // Trailer (when the header was written), close, and the file's own name;
    // then the contexts go. On any failure the file is removed instead. A
    // second call does nothing.
    kx::WriteStatus Finish();
    // Finish, answering 0 or -1.
    int32_t CloseMuxer();
    // Drops the output: contexts closed, file removed.
    void Abandon();

    // The first failure of the file, or null.
    const kx::OutputFailure* Failure() const { return failure_ ? &*failure_ : nullptr; }
    // What the capability table said when OpenMuxer asked it.
    const kx::ContainerVerdict& Verdict() const { return verdict_; }

    bool IsOpen() const { return context_ != nullptr; }
    bool IsHeaderWritten() const { return headerWritten_; }
    const AVFormatContext* FormatContext() const { return context_; }
    // Number of keys in the stream table.
    size_t StreamEntryCount() const { return streams_.size(); }

    // The container format to ask the library for, or null to let it guess
    // from the name: only a ".mpg" name (exactly so) picks one, by the
    // video codec: "mpeg" for MPEG-1, "svcd" for H.264, "dvd" otherwise.
    // Every stream of the file starts at 0 whatever its first packet's time
    // (AVI counts packets and bytes).
    bool StartsEveryStreamAtZero() const { return FormatIs("avi"); }

    static const char* GetOutputFormatName(const char16_t* fileName, const kx::MediaStreamPair* pair);

private:
    // A stream description with its own copy of the extradata.
    struct OwnedStreamInfo {
        kx::StreamMediaInfo info;
        std::vector<uint8_t> extradata;
    };
    struct OutputStreamEntry {
        int32_t sourceStreamIndex = 0;
        kx::MediaType mediaType = kx::MediaType::kNone;
        std::unique_ptr<kx::AnnexBFilter> filter;
        std::unique_ptr<kx::FlacFrameNumbering> flacNumbering;  // raw .flac outputs
        AVStream* stream = nullptr;
        int64_t lastDts = INT64_MIN;  // in the stream's time base
        std::optional<int64_t> roundingTicks;  // see PlaceOnOutputClock
    };

    // Containers that hold no time before 0 would have the library move every
    // stream by the first packet's lead, rounded up to each stream's time
    // base; on a time base of one frame (AVI) that opens a hole after the
    // first picture. The lead is taken off here instead, and each stream's
    // first time is rounded to its nearest step, that rounding then kept for
    // all its packets so that neighbours stay neighbours. Ticks in, ticks out.
    void PlaceOnOutputClock(OutputStreamEntry& entry, AVPacket* packet);
    int64_t CodecDelayToStoreTicks(const OutputStreamEntry& entry) const;

    // Where clips meet, the first packet of the next clip may not decode after
    // the last of the one before (an audio packet sounding across the join):
    // it is moved just past it, as the muxers refuse a falling decoding time.
    static void KeepDtsRising(OutputStreamEntry& entry, AVPacket* packet);

    static std::unique_ptr<OwnedStreamInfo> CopyStreamInfo(const kx::StreamMediaInfo& info);

    AVStream* AddVideoStream(int32_t key, const kx::StreamMediaInfo& info);
    AVStream* AddAudioStream(int32_t key, const kx::StreamMediaInfo& info);
    AVStream* AddSubtitleStream(int32_t key, const kx::SourceStream& source);
    // The source's tags, disposition, side data and the codec parameters the
    // description does not carry.
    void CopySourceTraits(AVStream* stream, const kx::SourceStream& source);
    void OpenVideoStreamCodec(AVStream* stream, const kx::StreamMediaInfo& info);
    void OpenAudioStreamCodec(AVStream* stream, const kx::StreamMediaInfo& info);
    bool ParseH264ParameterSets(const AVCodecParameters* parameters);
    // The avcC record of the stores, with `more` parameter sets (Annex B) appended.
    bool BuildAvcCRecord(AVCodecParameters* parameters, const std::vector<uint8_t>& more);
    void RewriteH264Extradata(AVCodecParameters* parameters);
    void AddHevcParameterSets(AVCodecParameters* parameters);
    // False when the packet must not be written (bad length prefix).
    bool BringH264IntoContainerForm(AVPacket* packet, int* error);

    OutputStreamEntry* FindEntry(int32_t key);
    bool FormatIs(const char* name) const;
    bool ExtensionIs(const char* upperExtension) const;
    // Containers that keep H.264 with length prefixes and an avcC record.
    // Matroska is one: given start codes, its writer scans and converts
    // every packet back (a sixth of a Matroska merge's CPU time).
    bool StoresLengthPrefixes() const { return ExtensionIs(".MP4") || ExtensionIs(".MOV") || FormatIs("matroska"); }

    // Opens the output's byte stream: the temporary file, through the
    // block writer. False (the failure kept) when it cannot be opened.
    bool OpenOutputIo();
    // Closes what OpenOutputIo opened; the first error, as a negative AVERROR.
    int CloseOutputIo(bool sync);
    // av_interleaved_write_frame, with a failed write kept as the file's failure.
    int32_t WriteToContainer(AVPacket* packet);
    // Keeps the first failure of the file.
    void Fail(kx::OutputFailure failure);
    // The failure of a header the container refused, in the library's words.
    kx::OutputFailure RefusedHeader(int averror, const std::string& libraryText) const;
    // The error of the byte stream, when a write or seek has failed (0 otherwise).
    int IoError() const;
    // Hands the kept chapters to the container, which writes them with the
    // trailer (MP4, MOV, Matroska); others have no chapters.
    void AttachChapters();
    // Frees the stream table and the context.
    void FreeContext();

    std::u16string fileName_;
    kx::OutputFileOptions fileOptions_;
    std::unique_ptr<kx::PartialFile> file_;                 // the file until it has its name
    std::unique_ptr<kx::BlockFileWriter> fileWriter_;
    std::optional<kx::OutputFailure> failure_;
    kx::ContainerVerdict verdict_;
    std::string upperExtension_;  // ".MP4": from the last '.', a-z upper-cased
    AVFormatContext* context_ = nullptr;
    std::optional<int64_t> leadTicks_;  // see PlaceOnOutputClock
    bool headerWritten_ = false;
    std::map<int32_t, OutputStreamEntry> streams_;
    std::unique_ptr<OwnedStreamInfo> audioInfo_;
    std::unique_ptr<OwnedStreamInfo> videoInfo_;
    kx::H264ParameterSets h264_;
    std::vector<uint8_t> avcC_;
    std::vector<uint8_t> moreParameterSets_;  // see AddParameterSets
    std::vector<kx::Chapter> chapters_;
};
