// The lossless capability table: which codecs each output container takes
// without re-encoding, read from "LossLess_xml.xml" beside the library.
#pragma once

#include <cstdint>

#include "caps/XmlReader.h"

namespace kx {

struct MediaStreamPair;

constexpr int kFormatQueryNameLength = 10;  // 9 characters and the NUL
constexpr int kMaxAcceptedCodecs = 32;

// The question asked of the table.
struct FormatQuery {
    char16_t extension[kFormatQueryNameLength];     // without the dot
    char16_t codecNames[3][kFormatQueryNameLength];  // video, audio, unused
    int32_t codecCount;                              // 1 video only, 2 video and audio
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

    // Releases the document if a load was attempted.
    void Reset();

private:
    XmlReader* loaded_ = nullptr;  // set once a load was attempted
    XmlReader reader_;
};

// Whether an output named fileName may be created for the streams of pair:
// a video stream is required, and the table beside the library must accept
// the video codec (and the audio codec, if any) for the file's extension.
bool CHECKMuxerValid(const char16_t* fileName, const MediaStreamPair* pair);

// The same against a table file given by path.
bool CheckMuxerValidWithTable(const char16_t* tablePath, const char16_t* fileName, const MediaStreamPair* pair);

}  // namespace kx
