#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "api/CStreamInfo.h"

using kx::CStreamInfo;

namespace {

StreamRecord VideoRecord() {
    StreamRecord record;
    std::memset(&record, 0, sizeof record);
    record.mediaType = 1;
    record.streamTag = 65536 + 0;
    record.codecId = 28;
    record.streamIndex = 0;
    std::u16string name = u"h264";
    std::memcpy(record.codecName, name.data(), name.size() * sizeof(char16_t));
    for (auto& c : record.description) c = u'x';  // no terminator: cut at the field's end
    record.duration = 10.0;
    record.bitRate = 250000;
    record.video.width = 320;
    record.video.height = 240;
    record.video.frameRate = 25.0;
    record.video.aspectNumerator = 4;
    record.video.aspectDenominator = 3;
    record.audio.sampleRate = 48000;
    record.extraA = -7;
    record.extraB = 1LL << 40;
    record.sourceModeA = 5;
    record.sourceModeB = 6;
    record.sourceFlags = 9;
    return record;
}

template <typename Fn>
Fn Slot(void* itf, int slot) {
    return reinterpret_cast<Fn>((*static_cast<void***>(itf))[slot]);
}

}  // namespace

TEST(StreamInfo, AnswersBothInterfacesAndCountsReferences) {
    CStreamInfo* info = CStreamInfo::Create();
    ASSERT_NE(info, nullptr);
    IStreamInfo* streamInfo = nullptr;
    IStreamInfoSrc* source = nullptr;
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(info->NonDelegatingQueryInterface(&IID_IStreamInfo, nullptr), KX_E_POINTER);
    ASSERT_EQ(info->NonDelegatingQueryInterface(&IID_IStreamInfo, reinterpret_cast<void**>(&streamInfo)), KX_S_OK);
    ASSERT_EQ(streamInfo->QueryInterface(&IID_IStreamInfoSrc, reinterpret_cast<void**>(&source)), KX_S_OK);
    EXPECT_EQ(streamInfo, static_cast<IStreamInfo*>(info));
    EXPECT_EQ(source, static_cast<IStreamInfoSrc*>(info));
    EXPECT_NE(static_cast<void*>(streamInfo), static_cast<void*>(source));
    EXPECT_EQ(source->QueryInterface(&IID_IKXSample, &other), KX_E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(source->QueryInterface(&IID_IUnknown, &other), KX_S_OK);
    EXPECT_EQ(other, static_cast<scombase::INonDelegatingUnknown*>(info));
    EXPECT_EQ(info->NonDelegatingRelease(), 3u);
    EXPECT_EQ(source->Release(), 2u);
    EXPECT_EQ(streamInfo->AddRef(), 3u);
    EXPECT_EQ(streamInfo->Release(), 2u);
    EXPECT_EQ(streamInfo->Release(), 1u);
    EXPECT_EQ(streamInfo->Release(), 0u);
}

TEST(StreamInfo, SlotsWithoutARecord) {
    CStreamInfo* info = CStreamInfo::Create();
    IStreamInfo* s = info;
    EXPECT_EQ(s->GetMediaType(), 0u);
    EXPECT_EQ(s->GetStreamTag(), 0u);
    EXPECT_EQ(s->GetCodecId(), 0u);
    EXPECT_EQ(s->GetStreamIndex(), 0xFFFFFFFFu);
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(s->GetCodecName(nullptr), KX_E_POINTER);
    EXPECT_EQ(s->GetCodecName(&text), KX_E_FAIL);
    EXPECT_EQ(s->GetDescription(&text), KX_E_FAIL);
    EXPECT_EQ(s->GetDuration(), 0.0);
    EXPECT_EQ(s->GetBitRate(), 0u);
    EXPECT_EQ(s->GetAudioFormat(), nullptr);
    EXPECT_EQ(s->GetVideoFormat(), nullptr);
    EXPECT_EQ(s->GetExtraA(), 0);
    EXPECT_EQ(s->GetExtraB(), 0);
    IStreamInfoSrc* src = info;
    EXPECT_EQ(src->GetTimeBlock(), nullptr);
    EXPECT_EQ(src->GetSourceModeA(), 2u);
    EXPECT_EQ(src->GetSourceModeB(), 2u);
    EXPECT_EQ(src->GetSourceFlags(), 0u);
    EXPECT_EQ(info->SetStreamRecord(nullptr), KX_E_POINTER);
    EXPECT_EQ(info->SetTimeBlock(nullptr), KX_E_POINTER);
    const int64_t values[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(info->SetTimeBlock(values), KX_S_OK);
    EXPECT_EQ(src->GetTimeBlock()[4], 5);
    EXPECT_EQ(src->GetSourceModeA(), 2u);  // still no record
    info->NonDelegatingRelease();
}

TEST(StreamInfo, SlotsShowTheRecordCopy) {
    CStreamInfo* info = CStreamInfo::Create();
    StreamRecord record = VideoRecord();
    ASSERT_EQ(info->SetStreamRecord(&record), KX_S_OK);
    record.codecId = 99;  // the object keeps its own copy
    record.video.width = 1;

    // Called by slot number, as a C host does.
    void* s = static_cast<IStreamInfo*>(info);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(s, 3)(s), 1u);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(s, 4)(s), 65536u);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(s, 5)(s), 28u);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(s, 6)(s), 0u);
    BSTR name = nullptr;
    ASSERT_EQ(Slot<HRESULT (*)(void*, BSTR*)>(s, 7)(s, &name), KX_S_OK);
    EXPECT_EQ(std::u16string(name), u"h264");
    SysFreeString(name);
    BSTR description = nullptr;
    ASSERT_EQ(Slot<HRESULT (*)(void*, BSTR*)>(s, 8)(s, &description), KX_S_OK);
    EXPECT_EQ(SysStringLen(description), 128u);
    SysFreeString(description);
    EXPECT_EQ(Slot<double (*)(void*)>(s, 9)(s), 10.0);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(s, 10)(s), 250000u);
    auto* audio = Slot<StreamAudioFormat* (*)(void*)>(s, 11)(s);
    auto* video = Slot<StreamVideoFormat* (*)(void*)>(s, 12)(s);
    ASSERT_NE(audio, nullptr);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(audio) - reinterpret_cast<const uint8_t*>(info->Record()), 496);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(video) - reinterpret_cast<const uint8_t*>(info->Record()), 416);
    EXPECT_EQ(audio->sampleRate, 48000u);
    EXPECT_EQ(video->width, 320u);
    EXPECT_EQ(video->frameRate, 25.0);
    EXPECT_EQ(video->aspectDenominator, 3u);
    EXPECT_EQ(Slot<int64_t (*)(void*)>(s, 13)(s), -7);
    EXPECT_EQ(Slot<int64_t (*)(void*)>(s, 14)(s), 1LL << 40);

    void* src = static_cast<IStreamInfoSrc*>(info);
    const int64_t* block = Slot<int64_t* (*)(void*)>(src, 3)(src);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, reinterpret_cast<const uint8_t*>(info->Record()) + 416, 40), 0);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(src, 4)(src), 5u);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(src, 5)(src), 6u);
    EXPECT_EQ(Slot<uint32_t (*)(void*)>(src, 6)(src), 9u);

    // A later time block replaces the one taken from the record.
    const int64_t values[5] = {10, 20, 30, 40, 50};
    ASSERT_EQ(info->SetTimeBlock(values), KX_S_OK);
    EXPECT_EQ(static_cast<IStreamInfoSrc*>(info)->GetTimeBlock()[0], 10);
    EXPECT_EQ(static_cast<IStreamInfo*>(info)->GetVideoFormat()->width, 320u);
    info->NonDelegatingRelease();
}
