#include "converter/CLossCopyMediaInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "log/KX_Log.h"

namespace kx {

namespace {

// The parts of the FileMediaInfo byte layout that the copy touches: counts,
// array pointers and extra data. Everything else is copied as bytes.
struct StreamLayout {
    uint8_t fields[388];
    uint32_t extradataSize;  // 388
    uint8_t* extradata;      // 392
    uint8_t displaySize[8];  // 400
};
struct ProgramLayout {
    uint8_t fields[20];
    uint32_t counts[3];         // 20: video, audio, subtitle
    StreamLayout* records[3];   // 32: in the same order
};
// Counts beyond these are damage, not media: the copy is refused.
constexpr uint32_t kMaxEntries = 0xFFFF;
constexpr uint32_t kMaxExtradataBytes = 1u << 28;

struct FileLayout {
    uint8_t fields[1036];
    uint32_t programCount;   // 1036
    uint8_t extraFlag[8];    // 1040
    ProgramLayout* programs; // 1048
};
static_assert(sizeof(StreamLayout) == 408 && offsetof(StreamLayout, extradata) == 392, "stream record layout");
static_assert(sizeof(ProgramLayout) == 56 && offsetof(ProgramLayout, records) == 32, "program entry layout");
static_assert(sizeof(FileLayout) == 1056 && offsetof(FileLayout, programs) == 1048, "file information layout");

void FreeRecords(StreamLayout* records, uint32_t count) {
    if (!records) return;
    for (uint32_t i = 0; i < count; ++i)
        if (records[i].extradataSize != 0 && records[i].extradata) std::free(records[i].extradata);
    std::free(records);
}

void FreeFile(FileLayout* file) {
    if (!file) return;
    if (file->programs) {
        for (uint32_t p = 0; p < file->programCount; ++p)
            for (int kind = 0; kind < 3; ++kind) FreeRecords(file->programs[p].records[kind], file->programs[p].counts[kind]);
        std::free(file->programs);
    }
    std::free(file);
}

// Copies count records and their extra data; null when memory runs out.
// A source array that is missing gives zero-filled records.
StreamLayout* CopyRecords(const StreamLayout* source, uint32_t count) {
    auto* records = static_cast<StreamLayout*>(std::calloc(count, sizeof(StreamLayout)));
    if (!records) return nullptr;
    if (!source) return records;
    std::memcpy(records, source, size_t(count) * sizeof(StreamLayout));
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
    const auto& from = reinterpret_cast<const FileLayout&>(source);
    auto* file = static_cast<FileLayout*>(std::calloc(1, sizeof(FileLayout)));
    if (!file) return nullptr;
    std::memcpy(file, &from, sizeof(FileLayout));
    file->fields[1022] = file->fields[1023] = 0;  // the path stays terminated
    file->programs = nullptr;
    uint32_t programCount = file->programCount;
    file->programCount = 0;  // counts only what is built, should memory run out
    if (programCount > kMaxEntries) {
        LogFormat(u"CLossCopyMediaInfo: %u programs refused\n", programCount);
        FreeFile(file);
        return nullptr;
    }
    if (programCount > 0) {
        file->programs = static_cast<ProgramLayout*>(std::calloc(programCount, sizeof(ProgramLayout)));
        if (!file->programs) {
            LogFormat(u"CLossCopyMediaInfo: no memory for %u programs\n", programCount);
            FreeFile(file);
            return nullptr;
        }
        for (uint32_t p = 0; p < programCount; ++p) {
            ProgramLayout& program = file->programs[p];
            const ProgramLayout* sourceProgram = from.programs ? &from.programs[p] : nullptr;
            if (sourceProgram) std::memcpy(&program, sourceProgram, sizeof(ProgramLayout));
            file->programCount = p + 1;
            for (int kind = 0; kind < 3; ++kind) {
                program.records[kind] = nullptr;
                uint32_t count = program.counts[kind];
                if (count == 0) continue;
                program.counts[kind] = 0;
                if (count <= kMaxEntries) program.records[kind] = CopyRecords(sourceProgram->records[kind], count);
                if (!program.records[kind]) {
                    LogFormat(u"CLossCopyMediaInfo: %u stream records not copied\n", count);
                    FreeFile(file);
                    return nullptr;
                }
                program.counts[kind] = count;
            }
        }
    }
    return reinterpret_cast<FileMediaInfo*>(file);
}

void CLossCopyMediaInfo::FreeCopy(FileMediaInfo* info) { FreeFile(reinterpret_cast<FileLayout*>(info)); }

}  // namespace kx
