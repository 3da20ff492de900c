#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "api/CLossCopyMediaInfo.h"

using kx::CLossCopyMediaInfo;

namespace {

// The FileMediaInfo family by byte offsets, as a host reads it.
constexpr size_t kFileBytes = 1056, kProgramBytes = 56, kStreamBytes = 408;

template <typename T>
void Put(void* base, size_t offset, T value) {
    std::memcpy(static_cast<uint8_t*>(base) + offset, &value, sizeof value);
}
template <typename T>
T Get(const void* base, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(base) + offset, sizeof value);
    return value;
}

uint8_t* Records(const void* program, int kind) { return Get<uint8_t*>(program, 32 + 8 * kind); }
uint8_t* Program(const void* file, uint32_t index) { return Get<uint8_t*>(file, 1048) + index * kProgramBytes; }

// A source built like the media information reader's, freed by FreeSource.
struct Source {
    // counts[p] = {video, audio, subtitle}
    explicit Source(const std::vector<std::vector<uint32_t>>& counts) {
        file = static_cast<uint8_t*>(std::calloc(1, kFileBytes));
        std::u16string path = u"/media/Fête.mp4";
        std::memcpy(file, path.c_str(), (path.size() + 1) * sizeof(char16_t));
        Put<double>(file, 1024, 10.0);
        Put<uint32_t>(file, 1032, 1234567);
        Put<uint32_t>(file, 1036, uint32_t(counts.size()));
        Put<uint32_t>(file, 1040, 1);
        auto* programs = static_cast<uint8_t*>(std::calloc(counts.size(), kProgramBytes));
        Put(file, 1048, programs);
        uint32_t index = 0;
        for (size_t p = 0; p < counts.size(); ++p) {
            uint8_t* program = programs + p * kProgramBytes;
            Put<uint32_t>(program, 0, uint32_t(p + 1));
            Put<double>(program, 8, 20.0);
            for (int kind = 0; kind < 3; ++kind) {
                uint32_t count = counts[p][kind];
                Put<uint32_t>(program, 20 + 4 * kind, count);
                if (count == 0) continue;
                auto* records = static_cast<uint8_t*>(std::calloc(count, kStreamBytes));
                Put(program, 32 + 8 * kind, records);
                for (uint32_t i = 0; i < count; ++i, ++index) {
                    uint8_t* record = records + i * kStreamBytes;
                    Put<uint32_t>(record, 0, kind + 1);
                    Put<uint32_t>(record, 4, index);
                    Put<int32_t>(record, 8, int32_t(((p + 1) << 16) + index));
                    Put<uint32_t>(record, 12, kind == 0 ? 28 : 0x15002);
                    std::strcpy(reinterpret_cast<char*>(record + 16), kind == 0 ? "h264" : "aac");
                    Put<uint32_t>(record, 288, 320);
                    Put<uint32_t>(record, 384, 2);
                    uint32_t extraSize = (index % 3 == 2) ? 0 : 8 + index;
                    Put<uint32_t>(record, 388, extraSize);
                    auto* extra = static_cast<uint8_t*>(std::malloc(extraSize ? extraSize : 1));
                    for (uint32_t b = 0; b < extraSize; ++b) extra[b] = uint8_t(index * 16 + b);
                    Put(record, 392, extra);  // set even when the length is 0, as for video
                    Put<uint32_t>(record, 404, 240);
                }
            }
        }
    }
    ~Source() {
        uint32_t programCount = Get<uint32_t>(file, 1036);
        for (uint32_t p = 0; p < programCount; ++p) {
            uint8_t* program = Program(file, p);
            for (int kind = 0; kind < 3; ++kind) {
                uint8_t* records = Records(program, kind);
                for (uint32_t i = 0; i < Get<uint32_t>(program, 20 + 4 * kind); ++i)
                    std::free(Get<uint8_t*>(records + i * kStreamBytes, 392));
                std::free(records);
            }
        }
        std::free(Get<uint8_t*>(file, 1048));
        std::free(file);
    }
    const FileMediaInfo* info() const { return reinterpret_cast<const FileMediaInfo*>(file); }
    uint8_t* file;
};

// Every byte outside the pointers equal; every pointer into memory of its own.
void ExpectDeepCopy(const uint8_t* copy, const uint8_t* source) {
    EXPECT_EQ(std::memcmp(copy, source, 1048), 0);
    uint32_t programCount = Get<uint32_t>(source, 1036);
    ASSERT_NE(Get<uint8_t*>(copy, 1048), Get<uint8_t*>(source, 1048));
    for (uint32_t p = 0; p < programCount; ++p) {
        const uint8_t* program = Program(copy, p);
        const uint8_t* original = Program(source, p);
        EXPECT_EQ(std::memcmp(program, original, 32), 0);
        for (int kind = 0; kind < 3; ++kind) {
            uint32_t count = Get<uint32_t>(original, 20 + 4 * kind);
            if (count == 0) {
                EXPECT_EQ(Records(program, kind), nullptr);
                continue;
            }
            ASSERT_NE(Records(program, kind), Records(original, kind));
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* record = Records(program, kind) + i * kStreamBytes;
                const uint8_t* from = Records(original, kind) + i * kStreamBytes;
                EXPECT_EQ(std::memcmp(record, from, 392), 0);
                EXPECT_EQ(std::memcmp(record + 400, from + 400, 8), 0);
                uint32_t extraSize = Get<uint32_t>(from, 388);
                const uint8_t* extra = Get<uint8_t*>(record, 392);
                if (extraSize == 0) {
                    EXPECT_EQ(extra, nullptr);
                } else {
                    ASSERT_NE(extra, nullptr);
                    EXPECT_NE(extra, Get<uint8_t*>(from, 392));
                    EXPECT_EQ(std::memcmp(extra, Get<uint8_t*>(from, 392), extraSize), 0);
                }
            }
        }
    }
}

}  // namespace

TEST(MediaInfoObject, QueryInterfaceAndReferenceCounting) {
    CLossCopyMediaInfo* object = CLossCopyMediaInfo::Create(nullptr);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetInfo(), nullptr);
    ILossCopyMediaInfo* info = nullptr;
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->NonDelegatingQueryInterface(&IID_ILossCopyMediaInfo, nullptr), KX_E_POINTER);
    EXPECT_EQ(object->NonDelegatingQueryInterface(&IID_IStreamInfo, &other), KX_E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    ASSERT_EQ(object->NonDelegatingQueryInterface(&IID_ILossCopyMediaInfo, reinterpret_cast<void**>(&info)), KX_S_OK);
    EXPECT_EQ(info, static_cast<ILossCopyMediaInfo*>(object));
    ASSERT_EQ(info->QueryInterface(&IID_IUnknown, &other), KX_S_OK);
    EXPECT_EQ(other, static_cast<scombase::INonDelegatingUnknown*>(object));
    EXPECT_EQ(info->Release(), 2u);
    EXPECT_EQ(info->Release(), 1u);
    EXPECT_EQ(info->Release(), 0u);
}

TEST(MediaInfoObject, DeepCopyOutlivesItsSource) {
    auto* source = new Source({{1, 2, 0}, {0, 2, 1}, {0, 0, 0}});
    CLossCopyMediaInfo* object = CLossCopyMediaInfo::Create(source->info());
    ASSERT_NE(object, nullptr);
    ILossCopyMediaInfo* info = object;
    auto* copy = reinterpret_cast<const uint8_t*>(info->GetInfo());
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, source->file);
    ExpectDeepCopy(copy, source->file);

    // Snapshot, then change and free the source: the copy keeps its values.
    std::vector<uint8_t> firstExtra(Get<uint8_t*>(Records(Program(copy, 0), 0), 392),
                                    Get<uint8_t*>(Records(Program(copy, 0), 0), 392) + 8);
    std::memset(Get<uint8_t*>(Records(Program(source->file, 0), 0), 392), 0xEE, 8);
    Put<uint32_t>(source->file, 1032, 0);
    delete source;
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(copy)), u"/media/Fête.mp4");
    EXPECT_EQ(Get<double>(copy, 1024), 10.0);
    EXPECT_EQ(Get<uint32_t>(copy, 1032), 1234567u);
    EXPECT_EQ(Get<uint32_t>(copy, 1036), 3u);
    const uint8_t* second = Program(copy, 1);
    EXPECT_EQ(Get<uint32_t>(second, 0), 2u);
    EXPECT_EQ(Get<uint32_t>(second, 24), 2u);
    const uint8_t* audio = Records(second, 1) + kStreamBytes;
    EXPECT_EQ(Get<int32_t>(audio, 8), (2 << 16) + 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(audio + 16)), "aac");
    EXPECT_EQ(Get<uint32_t>(Records(second, 2), 384), 2u);
    std::vector<uint8_t> extraNow(Get<uint8_t*>(Records(Program(copy, 0), 0), 392),
                                  Get<uint8_t*>(Records(Program(copy, 0), 0), 392) + 8);
    EXPECT_EQ(extraNow, firstExtra);
    EXPECT_EQ(extraNow[1], 1);
    EXPECT_EQ(info->Release(), 0u);  // frees every part (leaks show under ASan)
}

TEST(MediaInfoObject, EmptyAndDamagedSources) {
    Source none({});
    uint8_t* programs = Get<uint8_t*>(none.file, 1048);
    Put<uint8_t*>(none.file, 1048, reinterpret_cast<uint8_t*>(16));  // dangling, never followed
    CLossCopyMediaInfo* object = CLossCopyMediaInfo::Create(none.info());
    ASSERT_NE(object->GetInfo(), nullptr);
    EXPECT_EQ(Get<uint8_t*>(object->GetInfo(), 1048), nullptr);
    Put<uint8_t*>(none.file, 1048, programs);

    // An unterminated path stays terminated in the copy.
    Source longPath({{1, 0, 0}});
    for (size_t i = 0; i < 512; ++i) Put<char16_t>(longPath.file, i * 2, u'a');
    ASSERT_TRUE(object->CopyFrom(longPath.info()));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(object->GetInfo())).size(), 511u);

    // Counts that no file has are refused without a copy.
    Source absurd({{1, 0, 0}});
    Put<uint32_t>(absurd.file, 1036, 0xFFFFFFFFu);
    EXPECT_FALSE(object->CopyFrom(absurd.info()));
    EXPECT_EQ(object->GetInfo(), nullptr);
    Put<uint32_t>(absurd.file, 1036, 1u);
    Put<uint32_t>(Program(absurd.file, 0), 20, 0x7FFFFFFFu);
    EXPECT_FALSE(object->CopyFrom(absurd.info()));
    Put<uint32_t>(Program(absurd.file, 0), 20, 1u);
    ASSERT_TRUE(object->CopyFrom(absurd.info()));
    ExpectDeepCopy(reinterpret_cast<const uint8_t*>(object->GetInfo()), absurd.file);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
}
