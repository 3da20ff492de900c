// The lossless capability table: which codecs each output container takes
// without re-encoding, read from "LossLess_xml.xml" beside the library.
#pragma once

#include <cstdint>
#include <string>

#include "caps/XmlReader.h"

namespace kx {

struct MediaStreamPair;
struct StreamMediaInfo;

constexpr int kFormatQueryNameLength = 10;  // 9 characters and the NUL
constexpr int kMaxAcceptedCodecs = 64;

// The question asked of the table.
struct FormatQuery {
    char16_t extension[kFormatQueryNameLength];     // without the dot
    char16_t codecNames[3][kFormatQueryNameLength];  // video, then audio; unused
    int32_t codecCount;                              // 1 one stream, 2 video and audio
};

class CXml_Lossless_CheckInfos {
public:
    CXml_Lossless_CheckInfos() = default;
    virtual ~CXml_Lossless_CheckInfos();
    CXml_Lossless_CheckInfos(const CXml_Lossless_CheckInfos&) = delete;
    CXml_Lossless_CheckInfos& operator=(const CXml_Lossless_CheckInfos&) = delete;

    // Reads the table file; non-zero on success.
    int Load(const char16_t* path);

    // Upper-cases the query in place; 1 when the extension's entry accepts
    // every codec of the query, 0 (with a log line) otherwise.
    int CheckFormat(FormatQuery* query);

    // The same question answered as a value: how many codecs the
    // extension's entry lists, and which codec of the query it refused.
    struct Answer {
        bool accepted = false;
        int listed = 0;
        int refused = -1;  // index into the query's codecs
    };
    Answer Check(FormatQuery* query);

    // Releases the document if a load was attempted.
    void Reset();

private:
    Answer Judge(FormatQuery* query);

    XmlReader* loaded_ = nullptr;  // set once a load was attempted
    XmlReader reader_;
};

// Why the table refuses an output, when it does.
enum class ContainerRefusal {
    kNone,
    kNoStream,       // the output would have no stream
    kNoTable,        // the table beside the library is missing or unreadable
    kNotListed,      // the table lists no codecs for the extension
    kCodecRefused,   // the extension's entry does not list a stream's codec
};

// kCodecRefused names the kind of the stream whose codec the entry lacks.
enum class RefusedStream { kNone, kVideo, kAudio, kSubtitle };

struct ContainerVerdict {
    ContainerRefusal refusal = ContainerRefusal::kNone;
    RefusedStream refused = RefusedStream::kNone;
    int32_t streamIndex = -1;  // of the refused stream in its input
    int32_t codecId = 0;       // of the refused stream
    bool accepted() const { return refusal == ContainerRefusal::kNone; }
};

// Whether an output named fileName may be created for the streams of pair:
// the table beside the library must accept the video codec and the audio
// codec, whichever the pair has, for the file's extension.
ContainerVerdict CheckContainer(const char16_t* fileName, const MediaStreamPair* pair);
bool CHECKMuxerValid(const char16_t* fileName, const MediaStreamPair* pair);

// The same for one stream of any kind (a further audio track, subtitles).
ContainerVerdict CheckStreamInContainer(const char16_t* fileName, const StreamMediaInfo& stream);

// The same against a table file given by path.
ContainerVerdict CheckContainerWithTable(const char16_t* tablePath, const char16_t* fileName,
                                         const MediaStreamPair* pair);
bool CheckMuxerValidWithTable(const char16_t* tablePath, const char16_t* fileName, const MediaStreamPair* pair);

// The path of the table beside the library.
std::u16string ShippedTablePath();

}  // namespace kx
