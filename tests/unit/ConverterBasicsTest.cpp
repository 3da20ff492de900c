#include <gtest/gtest.h>

#include "TestSupport.h"

using kxtest::Bstr;

namespace {

struct Converter : testing::Test {
    void SetUp() override { converter = kxtest::CreateConverter(); ASSERT_NE(converter, nullptr); }
    void TearDown() override { if (converter) EXPECT_EQ(converter->Release(), 0u); }
    std::u16string OutputName(int64_t fileId, int64_t index, HRESULT* status) {
        BSTR name = nullptr;
        *status = converter->GetOutputFileName(fileId, index, &name);
        std::u16string result = name ? std::u16string(name) : u"";
        SysFreeString(name);
        return result;
    }
    IStreamwright* converter = nullptr;
};

}  // namespace

TEST_F(Converter, ANewObjectHasDefaults) {
    uint32_t type = 9;
    int32_t option = 9;
    EXPECT_EQ(converter->GetTaskType(&type, &option), KX_S_OK);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(option, -1);
    EXPECT_EQ(converter->GetOutputCount(0), 0);
    EXPECT_EQ(converter->GetClipCount(0), static_cast<int64_t>(KX_E_INVALIDARG));
    EXPECT_EQ(converter->Start(), KX_E_FAIL);  // no output path
    EXPECT_EQ(converter->WaitForCompletion(0), 0u);
}

TEST_F(Converter, MergeAndMixOutputNameIsTheOutputPath) {
    Bstr path(u"/tmp/merged é.mp4");
    ASSERT_EQ(converter->SetOutputPath(path), KX_S_OK);
    HRESULT status;
    EXPECT_EQ(OutputName(0, 0, &status), u"");
    EXPECT_EQ(status, KX_E_INVALIDARG);  // the count is still 0
    for (uint32_t type : {1u, 2u}) {
        ASSERT_EQ(converter->SetTaskType(type, 0), KX_S_OK);
        EXPECT_EQ(converter->GetOutputCount(777), 1);
        EXPECT_EQ(OutputName(777, 0, &status), u"/tmp/merged é.mp4");
        EXPECT_EQ(status, KX_S_OK);
        OutputName(777, 1, &status);
        EXPECT_EQ(status, KX_E_INVALIDARG);
    }
}

TEST_F(Converter, NullOutputPathLeavesNone) {
    Bstr path(u"/tmp/out");
    ASSERT_EQ(converter->SetOutputPath(path), KX_S_OK);
    EXPECT_EQ(converter->SetOutputPath(nullptr), KX_E_POINTER);
    ASSERT_EQ(converter->SetTaskType(1, 0), KX_S_OK);
    ASSERT_EQ(converter->GetOutputCount(0), 1);
    HRESULT status;
    OutputName(0, 0, &status);
    EXPECT_EQ(status, KX_E_FAIL);
    EXPECT_EQ(converter->Start(), KX_E_FAIL);
}

TEST_F(Converter, UnknownTaskTypeHasNoOutputs) {
    Bstr path(u"/tmp/out");
    ASSERT_EQ(converter->SetOutputPath(path), KX_S_OK);
    ASSERT_EQ(converter->SetTaskType(5, 3), KX_S_OK);
    EXPECT_EQ(converter->GetOutputCount(0), 0);
    HRESULT status;
    OutputName(0, 0, &status);
    EXPECT_EQ(status, KX_E_INVALIDARG);
}

TEST_F(Converter, ControlMethodsRefuseWhenIdle) {
    EXPECT_EQ(converter->Pause(), KX_E_FAIL);
    EXPECT_EQ(converter->Resume(), KX_E_FAIL);
    EXPECT_EQ(converter->Stop(), KX_E_FAIL);
}

TEST_F(Converter, UnknownIdsAndBadClipsGiveTheirStatuses) {
    ClipRange good{0, 10'000'000, 0};
    ClipRange negativeLength{0, -1, 0};
    ClipRange zeroLength{0, 0, 0};
    ClipRange negativeStart{-1, 100, 0};
    EXPECT_EQ(converter->AddTimeClip(99999, &good), KX_S_FALSE);
    EXPECT_EQ(converter->AddTimeClip(99999, &zeroLength), KX_S_FALSE);  // valid, but no such file
    EXPECT_EQ(converter->AddTimeClip(99999, &negativeLength), KX_E_INVALIDARG);
    EXPECT_EQ(converter->AddSizeClip(99999, &zeroLength), KX_E_INVALIDARG);
    EXPECT_EQ(converter->AddSizeClip(99999, &negativeStart), KX_E_INVALIDARG);
    EXPECT_EQ(converter->AddTimeClip(99999, nullptr), KX_E_INVALIDARG);
    ClipRange out{};
    EXPECT_EQ(converter->GetTimeClip(99999, 0, &out), KX_S_FALSE);
    EXPECT_EQ(converter->GetSizeClip(99999, 0, nullptr), KX_S_FALSE);
    EXPECT_EQ(converter->SetClip(99999, 0, &good), KX_S_FALSE);
    EXPECT_EQ(converter->RemoveClip(99999, 0), KX_S_FALSE);
    EXPECT_EQ(converter->RemoveFile(99999), KX_S_FALSE);
    EXPECT_EQ(converter->SwapClips(99999, 0, 1), KX_S_FALSE);
    EXPECT_EQ(converter->SwapFiles(99999, 99998), KX_S_FALSE);
    EXPECT_EQ(converter->CheckFileSeekable(99999), 0u);
    EXPECT_EQ(converter->AddFile(nullptr), static_cast<int64_t>(KX_E_POINTER));
    int64_t ids[] = {99999};
    EXPECT_EQ(converter->MoveFiles(ids, 1, 0), KX_S_OK);
}

TEST_F(Converter, CallbackSelectorTwoChangesNothing) {
    EXPECT_EQ(converter->SetCallback(nullptr, nullptr, 2), KX_S_OK);
    EXPECT_EQ(converter->SetCallback(nullptr, nullptr, -1), KX_S_OK);
}
