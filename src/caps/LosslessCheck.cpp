#include "caps/LosslessCheck.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "caps/CodecNameTable.h"
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

ContainerVerdict CheckContainerWithTable(const char16_t* tablePath, const char16_t* fileName,
                                         const MediaStreamPair* pair) {
    ContainerVerdict verdict;
    if (!fileName || !pair || !pair->video) {
        verdict.refusal = ContainerRefusal::kNoVideo;
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
    ShortNameInto(pair->video->codecId, query.codecNames[0]);
    query.codecCount = 1;
    if (pair->audio) {
        ShortNameInto(pair->audio->codecId, query.codecNames[1]);
        query.codecCount = 2;
    }

    const CXml_Lossless_CheckInfos::Answer answer = table.Check(&query);
    table.Reset();
    if (answer.listed == 0)
        verdict.refusal = ContainerRefusal::kNotListed;
    else if (!answer.accepted) {
        verdict.refusal = ContainerRefusal::kCodecRefused;
        const bool audio = answer.refused != 0 && pair->audio;
        const StreamMediaInfo* stream = audio ? pair->audio : pair->video;
        verdict.refused = audio ? RefusedStream::kAudio : RefusedStream::kVideo;
        verdict.streamIndex = stream->streamIndex;
        verdict.codecId = stream->codecId;
    }
    return verdict;
}

bool CheckMuxerValidWithTable(const char16_t* tablePath, const char16_t* fileName, const MediaStreamPair* pair) {
    return CheckContainerWithTable(tablePath, fileName, pair).accepted();
}

ContainerVerdict CheckContainer(const char16_t* fileName, const MediaStreamPair* pair) {
    char16_t directory[kBaseDirectoryLength] = {};
    GetBaseDirectory(directory, kBaseDirectoryLength);
    std::u16string path(directory);
    path += u"/LossLess_xml.xml";
    return CheckContainerWithTable(path.c_str(), fileName, pair);
}

bool CHECKMuxerValid(const char16_t* fileName, const MediaStreamPair* pair) {
    return CheckContainer(fileName, pair).accepted();
}

}  // namespace kx
