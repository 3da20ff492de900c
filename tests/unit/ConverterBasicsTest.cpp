// What a converter answers about files it does not have, beyond what the C
// host checks: the statuses hosts branch on.
#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(Converter, StatusesForUnknownFilesAndEmptyClips) {
    IStreamwright* converter = kxtest::CreateConverter();
    ASSERT_NE(converter, nullptr);
    const int64_t unknown = 99999;
    ClipRange good{0, 10'000'000, 0}, zeroLength{0, 0, 0}, out{};
    const struct {
        const char* call;
        HRESULT status, want;
    } cases[] = {
        {"AddTimeClip of length 0", converter->AddTimeClip(unknown, &zeroLength), KX_S_FALSE},
        {"AddTimeClip without a clip", converter->AddTimeClip(unknown, nullptr), KX_E_INVALIDARG},
        {"AddSizeClip of length 0", converter->AddSizeClip(unknown, &zeroLength), KX_E_INVALIDARG},
        {"GetSizeClip", converter->GetSizeClip(unknown, 0, &out), KX_S_FALSE},
        {"SetClip", converter->SetClip(unknown, 0, &good), KX_S_FALSE},
        {"RemoveClip", converter->RemoveClip(unknown, 0), KX_S_FALSE},
        {"SwapClips", converter->SwapClips(unknown, 0, 1), KX_S_FALSE},
        {"SwapFiles", converter->SwapFiles(unknown, unknown - 1), KX_S_FALSE},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.want) << c.call;
    EXPECT_EQ(converter->CheckFileSeekable(unknown), 0u);

    // A mix writes one output, named by the output path as given.
    kxtest::Bstr path(u"/tmp/mixed é.mp4");
    ASSERT_EQ(converter->SetOutputPath(path), KX_S_OK);
    ASSERT_EQ(converter->SetTaskType(KX_TASK_STREAM_MIX, 0), KX_S_OK);
    EXPECT_EQ(converter->GetOutputCount(777), 1);
    BSTR name = nullptr;
    ASSERT_EQ(converter->GetOutputFileName(777, 0, &name), KX_S_OK);
    EXPECT_EQ(std::u16string(name), u"/tmp/mixed é.mp4");
    SysFreeString(name);
    EXPECT_EQ(converter->Release(), 0u);
}
