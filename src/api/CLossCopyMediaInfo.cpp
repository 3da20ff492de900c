#include "api/CLossCopyMediaInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/KX_Log.h"

namespace kx {

namespace {

// Counts beyond these are damage, not media: the copy is refused.
constexpr uint32_t kMaxEntries = 0xFFFF;
constexpr uint32_t kMaxExtradataBytes = 1u << 28;

// The three record arrays of a program and their counts, in the order
// video, audio, subtitle.
enum class RecordArray { kVideo, kAudio, kSubtitle };
constexpr RecordArray kRecordArrays[] = {RecordArray::kVideo, RecordArray::kAudio, RecordArray::kSubtitle};

MediaStreamRecord*& RecordsOf(ProgramInfo& program, RecordArray kind) {
    return kind == RecordArray::kVideo   ? program.videos
           : kind == RecordArray::kAudio ? program.audios
                                         : program.subtitles;
}
MediaStreamRecord* RecordsOf(const ProgramInfo& program, RecordArray kind) {
    return kind == RecordArray::kVideo   ? program.videos
           : kind == RecordArray::kAudio ? program.audios
                                         : program.subtitles;
}
uint32_t& CountOf(ProgramInfo& program, RecordArray kind) {
    return kind == RecordArray::kVideo   ? program.videoCount
           : kind == RecordArray::kAudio ? program.audioCount
                                         : program.subtitleCount;
}

void FreeRecords(MediaStreamRecord* records, uint32_t count) {
    if (!records) return;
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].extradataSize != 0 && records[i].extradata) std::free(records[i].extradata);
    std::free(records);
}

void FreeFile(FileMediaInfo* file) {
    if (!file) return;
    if (file->programs) {
        for (uint32_t p = 0; p < file->programCount; ++p)
            for (RecordArray kind : kRecordArrays)
                FreeRecords(RecordsOf(file->programs[p], kind), CountOf(file->programs[p], kind));
        std::free(file->programs);
    }
    std::free(file);
}

// Copies count records and their extra data; null when memory runs out.
// A source array that is missing gives zero-filled records.
MediaStreamRecord* CopyRecords(const MediaStreamRecord* source, uint32_t count) {
    auto* records = static_cast<MediaStreamRecord*>(std::calloc(count, sizeof(MediaStreamRecord)));
    if (!records) return nullptr;
    if (!source) return records;
    std::memcpy(records, source, size_t(count) * sizeof(MediaStreamRecord));
    for (uint32_t i = 0; i < count; ++i) records[i].extradata = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t size = records[i].extradataSize;
        if (size == 0) continue;
        if (size > kMaxExtradataBytes) {
            records[i].extradataSize = 0;  // nothing of it to free
            FreeRecords(records, count);
            return nullptr;
        }
        records[i].extradata = static_cast<uint8_t*>(std::calloc(1, size));
        if (!records[i].extradata) {
            FreeRecords(records, count);
            return nullptr;
        }
        if (source[i].extradata) std::memcpy(records[i].extradata, source[i].extradata, size);
    }
    return records;
}

}  // namespace

CLossCopyMediaInfo::~CLossCopyMediaInfo() { FreeCopy(info_); }

CLossCopyMediaInfo* CLossCopyMediaInfo::Create(const FileMediaInfo* source) {
    auto* object = new (std::nothrow) CLossCopyMediaInfo();
    if (!object) return nullptr;
    object->NonDelegatingAddRef();
    object->CopyFrom(source);
    return object;
}

HRESULT CLossCopyMediaInfo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return KX_E_POINTER;
    if (scombase::IsEqualGuid(riid, IID_ILossCopyMediaInfo)) return GetInterface(static_cast<ILossCopyMediaInfo*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CLossCopyMediaInfo::CopyFrom(const FileMediaInfo* source) {
    FreeCopy(info_);
    info_ = nullptr;
    if (!source) return true;
    info_ = DeepCopy(*source);
    return info_ != nullptr;
}

FileMediaInfo* CLossCopyMediaInfo::DeepCopy(const FileMediaInfo& source) {
    auto* file = static_cast<FileMediaInfo*>(std::calloc(1, sizeof(FileMediaInfo)));
    if (!file) return nullptr;
    std::memcpy(file, &source, sizeof(FileMediaInfo));
    file->path[511] = 0;  // the path stays terminated
    file->programs = nullptr;
    uint32_t programCount = file->programCount;
    file->programCount = 0;  // counts only what is built, should memory run out
    if (programCount > kMaxEntries) {
        LogFormat(u"CLossCopyMediaInfo: %d programs refused\n", static_cast<int>(programCount));
        FreeFile(file);
        return nullptr;
    }
    if (programCount == 0) return file;
    file->programs = static_cast<ProgramInfo*>(std::calloc(programCount, sizeof(ProgramInfo)));
    if (!file->programs) {
        LogFormat(u"CLossCopyMediaInfo: no memory for %d programs\n", static_cast<int>(programCount));
        FreeFile(file);
        return nullptr;
    }
    for (uint32_t p = 0; p < programCount; ++p) {
        ProgramInfo& program = file->programs[p];
        const ProgramInfo* sourceProgram = source.programs ? &source.programs[p] : nullptr;
        if (sourceProgram) std::memcpy(&program, sourceProgram, sizeof(ProgramInfo));
        file->programCount = p + 1;
        for (RecordArray kind : kRecordArrays) {
            RecordsOf(program, kind) = nullptr;
            uint32_t count = CountOf(program, kind);
            if (count == 0) continue;
            CountOf(program, kind) = 0;
            if (count <= kMaxEntries) RecordsOf(program, kind) = CopyRecords(RecordsOf(*sourceProgram, kind), count);
            if (!RecordsOf(program, kind)) {
                LogFormat(u"CLossCopyMediaInfo: %d stream records not copied\n", static_cast<int>(count));
                FreeFile(file);
                return nullptr;
            }
            CountOf(program, kind) = count;
        }
    }
    return file;
}

void CLossCopyMediaInfo::FreeCopy(FileMediaInfo* info) { FreeFile(info); }

}  // namespace kx
