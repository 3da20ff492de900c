// What a converter answers before it has a task: the statuses hosts branch on.
#include <gtest/gtest.h>

#include "TestSupport.h"

using kxtest::Bstr;

TEST(Converter, StatusesWithoutATask) {
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->Start(), KX_E_FAIL);  // no output path
    EXPECT_EQ(converter->Pause(), KX_E_FAIL);
    EXPECT_EQ(converter->Resume(), KX_E_FAIL);
    EXPECT_EQ(converter->Stop(), KX_E_FAIL);
    EXPECT_EQ(converter->WaitForCompletion(0), 0u);
    EXPECT_EQ(converter->GetClipCount(0), static_cast<int64_t>(KX_E_INVALIDARG));
    EXPECT_EQ(converter->AddFile(nullptr), static_cast<int64_t>(KX_E_POINTER));
    EXPECT_EQ(converter->SetOutputPath(nullptr), KX_E_POINTER);

    const int64_t unknown = 99999;
    ClipRange good{0, 10'000'000, 0}, zeroLength{0, 0, 0}, negativeLength{0, -1, 0}, negativeStart{-1, 100, 0};
    ClipRange out{};
    const struct {
        const char* call;
        HRESULT status, want;
    } cases[] = {
        {"AddTimeClip", converter->AddTimeClip(unknown, &good), KX_S_FALSE},
        {"AddTimeClip of length 0", converter->AddTimeClip(unknown, &zeroLength), KX_S_FALSE},
        {"AddTimeClip of negative length", converter->AddTimeClip(unknown, &negativeLength), KX_E_INVALIDARG},
        {"AddTimeClip without a clip", converter->AddTimeClip(unknown, nullptr), KX_E_INVALIDARG},
        {"AddSizeClip of length 0", converter->AddSizeClip(unknown, &zeroLength), KX_E_INVALIDARG},
        {"AddSizeClip of negative start", converter->AddSizeClip(unknown, &negativeStart), KX_E_INVALIDARG},
        {"GetTimeClip", converter->GetTimeClip(unknown, 0, &out), KX_S_FALSE},
        {"GetSizeClip", converter->GetSizeClip(unknown, 0, nullptr), KX_S_FALSE},
        {"SetClip", converter->SetClip(unknown, 0, &good), KX_S_FALSE},
        {"RemoveClip", converter->RemoveClip(unknown, 0), KX_S_FALSE},
        {"RemoveFile", converter->RemoveFile(unknown), KX_S_FALSE},
        {"SwapClips", converter->SwapClips(unknown, 0, 1), KX_S_FALSE},
        {"SwapFiles", converter->SwapFiles(unknown, unknown - 1), KX_S_FALSE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, c.want) << c.call;
    }
    EXPECT_EQ(converter->CheckFileSeekable(unknown), 0u);

    // Merge and mix write one output, named by the output path; other kinds none.
    Bstr path(u"/tmp/merged é.mp4");
    ASSERT_EQ(converter->SetOutputPath(path), KX_S_OK);
    for (uint32_t type : {uint32_t(KX_TASK_MERGE), uint32_t(KX_TASK_STREAM_MIX), 5u}) {
        ASSERT_EQ(converter->SetTaskType(type, 0), KX_S_OK);
        const bool one = type != 5u;
        EXPECT_EQ(converter->GetOutputCount(777), one ? 1 : 0) << type;
        BSTR name = nullptr;
        EXPECT_EQ(converter->GetOutputFileName(777, 0, &name), one ? KX_S_OK : KX_E_INVALIDARG) << type;
        if (one) {
            EXPECT_EQ(std::u16string(name), u"/tmp/merged é.mp4");
        }
        SysFreeString(name);
        EXPECT_EQ(converter->GetOutputFileName(777, 1, &name), KX_E_INVALIDARG) << type;
    }
    EXPECT_EQ(converter->Release(), 0u);
}
