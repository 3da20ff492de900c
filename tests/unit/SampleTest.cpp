// The sample object as a host reaches it: by slot number through its own
// unknown, counted references, and records it owns or borrows.
#include <gtest/gtest.h>

#include <vector>

#include "api/CKXSample.h"
#include "TestSupport.h"

using kx::CKXSample;

namespace {

// A host object that counts the references the sample holds on it.
class SampleOwner : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, KX_E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 0;
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
    EXPECT_EQ(itf->AddRef(), 4u);
    EXPECT_EQ(itf->Release(), 3u);
    EXPECT_EQ(itf->Release(), 2u);
    EXPECT_EQ(reinterpret_cast<ReleaseFn>(table[2])(out), 1u);
    EXPECT_EQ(owner.refs, 1u);
    EXPECT_EQ(sample->NonDelegatingRelease(), 0u);
    EXPECT_EQ(owner.refs, 0u);
}

// A record the host allocated is freed when the stream attaches its own (a
// leak under ASan otherwise); a borrowed record is never freed.
TEST(Sample, AttachingForgetsAnOwnedRecordAndNeverFreesABorrowedOne) {
    CKXSample* sample = CKXSample::Create(KX_SAMPLE_AUDIO, 1);
    ASSERT_EQ(sample->Allocate(64), KX_S_OK);
    EXPECT_TRUE(sample->OwnsRecord());
    std::vector<uint8_t> pcm(32);
    MediaFrameRecord borrowed{};
    borrowed.mediaType = KX_SAMPLE_AUDIO;
    borrowed.subtype = 1;
    borrowed.audio.buffer = pcm.data();
    borrowed.audio.bytesHeld = borrowed.audio.capacity = 32;
    sample->AttachRecord(&borrowed);
    EXPECT_FALSE(sample->OwnsRecord());
    EXPECT_EQ(sample->GetFrameRecord(), &borrowed);
    EXPECT_EQ(sample->GetCapacity(), 32);
    sample->NonDelegatingRelease();  // with the borrowed record still attached: a stack record must survive
}
