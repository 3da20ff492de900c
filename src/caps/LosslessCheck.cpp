#include "caps/LosslessCheck.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "caps/CodecNameTable.h"
#include "input/DemuxTypes.h"
#include "output/MediaStreamPair.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/WideString.h"

namespace kx {

namespace {

constexpr size_t kBaseDirectoryLength = 1024;

void UpperCaseAscii(char16_t* text, size_t capacity) {
    for (size_t i = 0; i < capacity && text[i]; ++i)
        if (text[i] >= u'a' && text[i] <= u'z') text[i] = static_cast<char16_t>(text[i] - u'a' + u'A');
}

// Null-safe view of a fixed field that may lack its terminator.
std::u16string_view FieldView(const char16_t* field, size_t capacity) {
    size_t length = 0;
    while (length < capacity && field[length]) ++length;
    return std::u16string_view(field, length);
}

// Short name of a codec into a query field; an identifier without a table
// entry leaves the field empty.
void ShortNameInto(int32_t codecId, char16_t* field) {
    char16_t shortName[kCodecNameLength] = {};
    if (GetCodecShortName(codecId, shortName)) WideCopy(field, kFormatQueryNameLength, shortName);
}

}  // namespace

CXml_Lossless_CheckInfos::~CXml_Lossless_CheckInfos() = default;

int CXml_Lossless_CheckInfos::Load(const char16_t* path) {
    loaded_ = &reader_;
    return reader_.Load(path);
}

void CXml_Lossless_CheckInfos::Reset() {
    if (loaded_) loaded_->Reset();
}

int CXml_Lossless_CheckInfos::CheckFormat(FormatQuery* query) { return Check(query).accepted ? 1 : 0; }

CXml_Lossless_CheckInfos::Answer CXml_Lossless_CheckInfos::Check(FormatQuery* query) {
    const Answer answer = Judge(query);
    if (query && answer.refused >= 0) {
        const std::u16string codecText(FieldView(query->codecNames[answer.refused], kFormatQueryNameLength));
        LogFormat(legacy::kCodecNotListed, static_cast<int32_t>(answer.listed), codecText.c_str());
    }
    return answer;
}

CXml_Lossless_CheckInfos::Answer CXml_Lossless_CheckInfos::Judge(FormatQuery* query) {
    Answer answer;
    if (!query) return answer;
    const int count = query->codecCount < 3 ? query->codecCount : 3;
    UpperCaseAscii(query->extension, kFormatQueryNameLength);
    for (int i = 0; i < count; ++i) UpperCaseAscii(query->codecNames[i], kFormatQueryNameLength);
    const std::u16string_view extension = FieldView(query->extension, kFormatQueryNameLength);

    // Pool the codec elements of every entry named like the extension.
    std::vector<std::u16string> accepted;
    XmlReader::Node root = reader_.GetNode(XmlReader::Node(), u"Quentara_XML", 0);
    XmlReader::Node map = root ? reader_.GetNode(root, u"OUTPUT_MAP", 0) : XmlReader::Node();
    const int entries = map ? reader_.GetNamedNodeCount(map, u"*") : 0;
    char16_t name[kCodecNameLength];
    for (int i = 0; i < entries; ++i) {
        XmlReader::Node entry = reader_.GetNode(map, u"*", i);
        reader_.GetNodeName(entry, name);
        if (std::u16string_view(name) != extension) continue;
        const int groups = reader_.GetNamedNodeCount(entry, u"*");
        if (groups == 0) break;  // an empty entry ends the search
        for (int g = 0; g < groups; ++g) {
            XmlReader::Node group = reader_.GetNode(entry, u"*", g);
            const int codecs = reader_.GetNamedNodeCount(group, u"*");
            for (int c = 0; c < codecs && accepted.size() < static_cast<size_t>(kMaxAcceptedCodecs); ++c) {
                reader_.GetNodeName(reader_.GetNode(group, u"*", c), name);
                accepted.emplace_back(name);
            }
        }
    }

    answer.listed = static_cast<int>(accepted.size());
    answer.accepted = true;
    if (query->codecCount < 1) return answer;
    for (int i = 0; i < count; ++i) {
        const std::u16string_view codec = FieldView(query->codecNames[i], kFormatQueryNameLength);
        bool found = false;
        for (const auto& name : accepted)
            if (name == codec) found = true;
        if (!found) {
            answer.accepted = false;
            answer.refused = i;
            return answer;
        }
    }
    return answer;
}

namespace {

struct QueriedStream {
    const StreamMediaInfo* stream;
    RefusedStream kind;
};

RefusedStream KindOf(const StreamMediaInfo& stream) {
    switch (stream.mediaType) {
        case MediaType::kVideo: return RefusedStream::kVideo;
        case MediaType::kAudio: return RefusedStream::kAudio;
        default: return RefusedStream::kSubtitle;
    }
}

// Asks the table whether the extension of fileName takes the codecs of
// `streams` (one or two), and says which it refused.
ContainerVerdict CheckStreams(const char16_t* tablePath, const char16_t* fileName, const QueriedStream* streams,
                              int count) {
    ContainerVerdict verdict;
    if (!fileName || count < 1) {
        verdict.refusal = ContainerRefusal::kNoStream;
        return verdict;
    }

    CXml_Lossless_CheckInfos table;
    if (!table.Load(tablePath)) {
        LogFormat(legacy::kTableLoadFailed, tablePath ? tablePath : u"");
        table.Reset();
        verdict.refusal = ContainerRefusal::kNoTable;
        return verdict;
    }

    FormatQuery query;
    std::memset(&query, 0, sizeof query);
    const std::u16string_view name(fileName, WideLength(fileName));
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string_view::npos) {
        const std::u16string extension(name.substr(dot + 1));
        WideCopy(query.extension, kFormatQueryNameLength, extension.c_str());
    }
    for (int i = 0; i < count; ++i) ShortNameInto(streams[i].stream->codecId, query.codecNames[i]);
    query.codecCount = count;

    const CXml_Lossless_CheckInfos::Answer answer = table.Check(&query);
    table.Reset();
    if (answer.listed == 0) {
        verdict.refusal = ContainerRefusal::kNotListed;
    } else if (!answer.accepted) {
        const QueriedStream& refused = streams[answer.refused >= 0 && answer.refused < count ? answer.refused : 0];
        verdict.refusal = ContainerRefusal::kCodecRefused;
        verdict.refused = refused.kind;
        verdict.streamIndex = refused.stream->streamIndex;
        verdict.codecId = refused.stream->codecId;
    }
    return verdict;
}

}  // namespace

ContainerVerdict CheckContainerWithTable(const char16_t* tablePath, const char16_t* fileName,
                                         const MediaStreamPair* pair) {
    QueriedStream streams[2];
    int count = 0;
    if (pair && pair->video) streams[count++] = {pair->video, RefusedStream::kVideo};
    if (pair && pair->audio) streams[count++] = {pair->audio, RefusedStream::kAudio};
    return CheckStreams(tablePath, fileName, streams, count);
}

bool CheckMuxerValidWithTable(const char16_t* tablePath, const char16_t* fileName, const MediaStreamPair* pair) {
    return CheckContainerWithTable(tablePath, fileName, pair).accepted();
}

std::u16string ShippedTablePath() {
    char16_t directory[kBaseDirectoryLength] = {};
    GetBaseDirectory(directory, kBaseDirectoryLength);
    return std::u16string(directory) + u"/LossLess_xml.xml";
}

ContainerVerdict CheckContainer(const char16_t* fileName, const MediaStreamPair* pair) {
    return CheckContainerWithTable(ShippedTablePath().c_str(), fileName, pair);
}

ContainerVerdict CheckStreamInContainer(const char16_t* fileName, const StreamMediaInfo& stream) {
    const QueriedStream queried{&stream, KindOf(stream)};
    return CheckStreams(ShippedTablePath().c_str(), fileName, &queried, 1);
}

bool CHECKMuxerValid(const char16_t* fileName, const MediaStreamPair* pair) {
    return CheckContainer(fileName, pair).accepted();
}

}  // namespace kx
