// KX_GetStreamCount and KX_GetStreamSummary: every stream of an added file
// with its language, title and disposition.
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "api/CStreamwright.h"
#include "input/CTMediaInfo.h"
#include "input/DemuxerHolder.h"
#include "platform/WideString.h"

namespace kx {

namespace {

// The host's numbers are the media library's disposition bits.
static_assert(KX_DISPOSITION_DEFAULT == AV_DISPOSITION_DEFAULT && KX_DISPOSITION_DUB == AV_DISPOSITION_DUB &&
              KX_DISPOSITION_ORIGINAL == AV_DISPOSITION_ORIGINAL && KX_DISPOSITION_COMMENT == AV_DISPOSITION_COMMENT &&
              KX_DISPOSITION_FORCED == AV_DISPOSITION_FORCED &&
              KX_DISPOSITION_HEARING_IMPAIRED == AV_DISPOSITION_HEARING_IMPAIRED &&
              KX_DISPOSITION_VISUAL_IMPAIRED == AV_DISPOSITION_VISUAL_IMPAIRED &&
              KX_DISPOSITION_ATTACHED_PIC == AV_DISPOSITION_ATTACHED_PIC);
constexpr uint32_t kHostDispositions = KX_DISPOSITION_DEFAULT | KX_DISPOSITION_DUB | KX_DISPOSITION_ORIGINAL |
                                       KX_DISPOSITION_COMMENT | KX_DISPOSITION_FORCED |
                                       KX_DISPOSITION_HEARING_IMPAIRED | KX_DISPOSITION_VISUAL_IMPAIRED |
                                       KX_DISPOSITION_ATTACHED_PIC;

int32_t HostKindOf(MediaType type) {
    switch (type) {
        case MediaType::kVideo: return KX_STREAM_VIDEO;
        case MediaType::kAudio: return KX_STREAM_AUDIO;
        case MediaType::kSubtitle: return KX_STREAM_SUBTITLE;
        default: return 0;
    }
}

// Copies text into a fixed field, cut so that the terminator fits.
template <size_t N>
void CopyNarrow(char (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Cut to 127 characters, never inside a surrogate pair.
void CopyTitle(OLECHAR (&field)[128], const std::string& title) {
    std::u16string wide = Utf8ToWide(title);
    size_t length = std::min<size_t>(wide.size(), 127);
    if (length > 0 && length < wide.size() && wide[length - 1] >= 0xD800 && wide[length - 1] <= 0xDBFF) --length;
    std::copy_n(wide.data(), length, field);
    field[length] = u'\0';
}

}  // namespace

const FileSummary* CStreamwright::SummaryOf(int64_t fileId) {
    FileRecord* file = FindFile(fileId);
    if (!file || !file->input || !file->input->mediaInfo) return nullptr;
    file->input->mediaInfo->GetMediainfo();  // builds the summary with the description
    return &file->input->mediaInfo->Summary();
}

}  // namespace kx

using kx::ConverterOf;

extern "C" KX_EXPORT int32_t KX_GetStreamCount(IStreamwright* converter, int64_t fileId) {
    kx::CStreamwright* object = ConverterOf(converter);
    const kx::FileSummary* summary = object ? object->SummaryOf(fileId) : nullptr;
    return summary ? static_cast<int32_t>(summary->streams.size()) : -1;
}

extern "C" KX_EXPORT HRESULT KX_GetStreamSummary(IStreamwright* converter, int64_t fileId, int32_t streamIndex,
                                                 KX_StreamSummary* out) {
    if (!out) return KX_E_POINTER;
    kx::CStreamwright* object = ConverterOf(converter);
    const kx::FileSummary* summary = object ? object->SummaryOf(fileId) : nullptr;
    if (!summary || streamIndex < 0 || static_cast<size_t>(streamIndex) >= summary->streams.size()) return KX_S_FALSE;
    const kx::StreamSummary& stream = summary->streams[static_cast<size_t>(streamIndex)];
    std::memset(out, 0, sizeof *out);
    out->streamIndex = stream.streamIndex;
    out->kind = kx::HostKindOf(stream.mediaType);
    out->codecId = stream.codecId;
    out->disposition = static_cast<uint32_t>(stream.disposition) & kx::kHostDispositions;
    kx::CopyNarrow(out->codecName, stream.codecName);
    kx::CopyNarrow(out->language, stream.language);
    kx::CopyTitle(out->title, stream.title);
    return KX_S_OK;
}
