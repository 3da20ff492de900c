#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api/CKXSample.h"
#include "input/MediaFrameRecord.h"
#include "TestSupport.h"

using kx::CKXSample;

namespace {

constexpr HRESULT kRefused = static_cast<HRESULT>(0x80000010);

// Owns a sample with the creator's reference.
struct SampleRef {
    explicit SampleRef(int32_t mediaType, int32_t subtype = 1) : sample(CKXSample::Create(mediaType, subtype)) {}
    ~SampleRef() {
        if (sample) sample->NonDelegatingRelease();
    }
    CKXSample* operator->() const { return sample; }
    CKXSample* sample;
};

// A planar source frame whose planes hold recognisable bytes.
struct PlanarFrame {
    PlanarFrame(int32_t width, int32_t height, uint8_t seed) {
        int32_t chromaWidth = (width + 1) / 2;
        size_t luma = size_t(width) * height, chroma = size_t(chromaWidth) * ((height + 1) / 2);
        y.resize(luma);
        u.resize(chroma);
        v.resize(chroma);
        for (size_t i = 0; i < luma; ++i) y[i] = uint8_t(seed + i);
        for (size_t i = 0; i < chroma; ++i) u[i] = uint8_t(seed * 3 + i), v[i] = uint8_t(seed * 7 + i);
        std::memset(&record, 0, sizeof record);
        record.mediaType = KX_SAMPLE_VIDEO;
        record.subtype = 1;
        record.video.format = KX_FRAME_PLANAR;
        record.video.planar.layout = 2;
        record.video.planar.y = y.data();
        record.video.planar.u = u.data();
        record.video.planar.v = v.data();
        record.video.planar.width = width;
        record.video.planar.height = height;
        record.video.planar.yRowLength = width;
        record.video.planar.uRowLength = chromaWidth;
        record.video.planar.vRowLength = chromaWidth;
        record.video.keyFrame = 1;
        record.decodeTime = 400000;
        record.presentationTime = 800000;
        record.duration = 400000;
    }
    std::vector<uint8_t> y, u, v;
    MediaFrameRecord record;
};

MediaFrameRecord AudioFrame(std::vector<uint8_t>& pcm) {
    MediaFrameRecord record;
    std::memset(&record, 0, sizeof record);
    record.mediaType = KX_SAMPLE_AUDIO;
    record.subtype = 1;
    record.audio.sampleRate = 48000;
    record.audio.channels = 2;
    record.audio.bitsPerSample = 16;
    record.audio.buffer = pcm.data();
    record.audio.bytesHeld = int32_t(pcm.size());
    record.audio.capacity = int32_t(pcm.size());
    record.decodeTime = 10;
    record.presentationTime = 20;
    record.duration = 30;
    return record;
}

void ExpectPlanarCopy(const MediaFrameRecord& copy, const PlanarFrame& frame) {
    const MediaFramePlanar& planar = copy.video.planar;
    size_t luma = frame.y.size(), chroma = frame.u.size();
    ASSERT_NE(planar.y, nullptr);
    EXPECT_EQ(planar.width, frame.record.video.planar.width);
    EXPECT_EQ(planar.height, frame.record.video.planar.height);
    EXPECT_EQ(planar.u, planar.y + luma);
    EXPECT_EQ(planar.v, planar.y + luma + chroma);
    EXPECT_EQ(std::memcmp(planar.y, frame.y.data(), luma), 0);
    EXPECT_EQ(std::memcmp(planar.u, frame.u.data(), chroma), 0);
    EXPECT_EQ(std::memcmp(planar.v, frame.v.data(), chroma), 0);
}

// A host object whose slot 10 takes samples back.
class SampleOwner : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, KX_E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    virtual int32_t Slot3() { return 0; }
    virtual int32_t Slot4() { return 0; }
    virtual int32_t Slot5() { return 0; }
    virtual int32_t Slot6() { return 0; }
    virtual int32_t Slot7() { return 0; }
    virtual int32_t Slot8() { return 0; }
    virtual int32_t Slot9() { return 0; }
    virtual HRESULT TakeBack(IKXSample* sample) {
        taken = sample;
        return 7;
    }
    ULONG refs = 0;
    IKXSample* taken = nullptr;
};

}  // namespace

TEST(Sample, QueryInterfaceAndReferenceCounting) {
    SampleOwner owner;
    CKXSample* sample = CKXSample::Create(KX_SAMPLE_VIDEO, 1);
    ASSERT_NE(sample, nullptr);
    sample->SetOwner(&owner);  // its release tells when the sample is gone
    EXPECT_EQ(owner.refs, 1u);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(sample->NonDelegatingQueryInterface(&IID_IKXSample, nullptr), KX_E_POINTER);
    EXPECT_EQ(sample->NonDelegatingQueryInterface(&IID_IStreamInfo, &out), KX_E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sample->NonDelegatingQueryInterface(nullptr, &out), KX_E_NOINTERFACE);
    ASSERT_EQ(sample->NonDelegatingQueryInterface(&IID_IUnknown, &out), KX_S_OK);
    EXPECT_EQ(out, static_cast<scombase::INonDelegatingUnknown*>(sample));
    // A host reaches IKXSample through the object's unknown, by slot number.
    using QueryFn = HRESULT (*)(void*, REFIID, void**);
    using ReleaseFn = ULONG (*)(void*);
    void** table = *static_cast<void***>(out);
    IKXSample* itf = nullptr;
    ASSERT_EQ(reinterpret_cast<QueryFn>(table[0])(out, &IID_IKXSample, reinterpret_cast<void**>(&itf)), KX_S_OK);
    EXPECT_EQ(itf, static_cast<IKXSample*>(sample));
    EXPECT_EQ(itf->GetMediaType(), KX_SAMPLE_VIDEO);
    EXPECT_EQ(itf->GetSubType(), 1);
    EXPECT_EQ(itf->GetStreamTag(), -1);
    EXPECT_EQ(itf->AddRef(), 4u);
    EXPECT_EQ(itf->Release(), 3u);
    EXPECT_EQ(itf->Release(), 2u);
    EXPECT_EQ(reinterpret_cast<ReleaseFn>(table[2])(out), 1u);
    EXPECT_EQ(owner.refs, 1u);
    EXPECT_EQ(sample->NonDelegatingRelease(), 0u);
    EXPECT_EQ(owner.refs, 0u);
}

TEST(Sample, FramesOfChangingSizeNeverOverflow) {
    // Into an owned record, and into a borrowed one built like the decoded stream's.
    SampleRef owned(KX_SAMPLE_VIDEO);
    ASSERT_EQ(owned->Allocate(1), KX_S_OK);
    SampleRef borrowed(KX_SAMPLE_VIDEO);
    MediaFrameRecord* streamRecord = kx::CreatePlanarVideoRecord(16, 8);
    ASSERT_NE(streamRecord, nullptr);
    streamRecord->subtype = 1;
    borrowed->AttachRecord(streamRecord);
    EXPECT_EQ(borrowed->GetCapacity(), 16 * 8 + 2 * 8 * 4);

    const int32_t sizes[][2] = {{16, 8}, {64, 48}, {7, 5}, {321, 241}, {2, 2}, {320, 240}, {1, 1}};
    uint8_t seed = 1;
    for (const auto& size : sizes) {
        PlanarFrame frame(size[0], size[1], seed++);
        ASSERT_EQ(owned->CopyFromRecord(&frame.record), KX_S_OK);
        ExpectPlanarCopy(*owned->GetFrameRecord(), frame);
        EXPECT_GE(owned->GetCapacity(), owned->GetDataSize());
        ASSERT_EQ(borrowed->CopyFromRecord(&frame.record), KX_S_OK);
        ExpectPlanarCopy(*streamRecord, frame);
    }
    // A frame of another format replaces the planar buffer instead of misreading it.
    std::vector<uint8_t> data(3000, 0x5A);
    MediaFrameRecord block{};
    block.mediaType = KX_SAMPLE_VIDEO;
    block.subtype = 1;
    block.video.format = KX_FRAME_BYTES;
    block.video.bytes.data = data.data();
    block.video.bytes.bytesHeld = 3000;
    block.video.bytes.capacity = 3000;
    ASSERT_EQ(owned->CopyFromRecord(&block), KX_S_OK);
    EXPECT_EQ(owned->GetFrameRecord()->video.bytes.bytesHeld, 3000);
    EXPECT_EQ(std::memcmp(owned->GetFrameRecord()->video.bytes.data, data.data(), 3000), 0);
    PlanarFrame back(40, 30, 9);
    ASSERT_EQ(owned->CopyFromRecord(&back.record), KX_S_OK);
    ExpectPlanarCopy(*owned->GetFrameRecord(), back);

    // Absurd sizes are refused.
    PlanarFrame absurd(2, 2, 1);
    absurd.record.video.planar.width = 1 << 20;
    absurd.record.video.planar.height = 1 << 20;
    EXPECT_EQ(owned->CopyFromRecord(&absurd.record), kRefused);
    absurd.record.video.planar.width = -4;
    EXPECT_EQ(owned->CopyFromRecord(&absurd.record), kRefused);

    borrowed->AttachRecord(nullptr);
    kx::FreeFrameRecord(streamRecord);
}

TEST(Sample, CopyRefusals) {
    SampleRef sample(KX_SAMPLE_VIDEO);
    PlanarFrame frame(4, 4, 1);
    EXPECT_EQ(sample->CopyFromRecord(&frame.record), kRefused);  // no record yet
    ASSERT_EQ(sample->Allocate(8), KX_S_OK);
    EXPECT_EQ(sample->CopyFromRecord(nullptr), kRefused);
    EXPECT_EQ(sample->CopyFromRecord(sample->GetFrameRecord()), kRefused);
    EXPECT_EQ(sample->CopyFromSample(sample.sample), kRefused);
    EXPECT_EQ(sample->CopyFromSample(nullptr), kRefused);
    frame.record.subtype = 2;
    EXPECT_EQ(sample->CopyFromRecord(&frame.record), kRefused);
    frame.record.subtype = 1;
    frame.record.mediaType = KX_SAMPLE_AUDIO;
    EXPECT_EQ(sample->CopyFromRecord(&frame.record), kRefused);
    SampleRef audio(KX_SAMPLE_AUDIO);
    ASSERT_EQ(audio->Allocate(8), KX_S_OK);
    EXPECT_EQ(sample->CopyFromSample(audio.sample), kRefused);
    EXPECT_EQ(sample->GetCapacity(), 8);
}

TEST(Sample, AttachingForgetsAnOwnedRecordAndNeverFreesABorrowedOne) {
    SampleRef sample(KX_SAMPLE_AUDIO);
    ASSERT_EQ(sample->Allocate(64), KX_S_OK);
    EXPECT_TRUE(sample->OwnsRecord());
    std::vector<uint8_t> pcm(32);
    MediaFrameRecord borrowed = AudioFrame(pcm);
    sample->AttachRecord(&borrowed);  // the owned record is freed here (leak check under ASan)
    EXPECT_FALSE(sample->OwnsRecord());
    EXPECT_EQ(sample->GetFrameRecord(), &borrowed);
    EXPECT_EQ(sample->GetCapacity(), 32);
    // Destroyed with the borrowed record still attached: a stack record must survive.
}
