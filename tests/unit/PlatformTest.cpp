#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "KX_Remuxion.h"
#include <fstream>
#include <thread>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/WideString.h"

using namespace kx;

TEST(WideString, RoundTripsNonAsciiAndSurrogates) {
    std::string utf8 = "Fête_vidéo_ü 😀.mp4";
    std::u16string wide = Utf8ToWide(utf8);
    EXPECT_EQ(wide.size(), 19u);  // the emoji takes two UTF-16 units
    EXPECT_EQ(WideToUtf8(wide), utf8);
}

// File names in another encoding: each byte that is not UTF-8 becomes its
// escape and comes back as the same byte.
TEST(WideString, BytesThatAreNotUtf8ComeBackUnchanged) {
    const std::string bytes("a\xC3" "b\xFF\xE9t\xC3\xA9", 8);
    std::u16string wide = Utf8ToWide(bytes);
    EXPECT_EQ(wide, u"a\xDCC3" u"b\xDCFF\xDCE9t\xE9");
    EXPECT_EQ(WideToUtf8(wide), bytes);
    EXPECT_EQ(WideToUtf8(std::u16string(u"\xD800x")), "\xEF\xBF\xBDx");  // other lone surrogates: U+FFFD
}

TEST(WideString, FixedBufferConversionOnlyWhenTheNameFits) {
    char buffer[8];
    EXPECT_TRUE(WideToUtf8Fixed(u"abcdefg", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_FALSE(WideToUtf8Fixed(u"abcdefgh", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    // "é" needs two bytes: six of them and the terminator do not fit in 12.
    EXPECT_FALSE(WideToUtf8Fixed(u"éééééé", buffer, sizeof buffer));
}

TEST(Bstr, CarriesItsByteLengthAndMayHoldNul) {
    BSTR text = SysAllocString(u"abc");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(text[3], 0);
    SysFreeString(text);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(ManualResetEvent, WindowsWaitResults) {
    ManualResetEvent event(false);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(30), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(25));
    event.Set();
    EXPECT_EQ(event.Wait(0), kWaitSignalled);
    EXPECT_EQ(event.Wait(kInfinite), kWaitSignalled);  // stays set: manual reset
    event.Reset();
    EXPECT_EQ(event.Wait(0), kWaitTimeout);
}

TEST(ManualResetEvent, ReleasesAWaiterOnAnotherThread) {
    ManualResetEvent event(false);
    std::atomic<uint32_t> result{99};
    std::thread waiter([&] { result = event.Wait(kInfinite); });
    Sleep(5);
    event.Set();
    waiter.join();
    EXPECT_EQ(result.load(), kWaitSignalled);
}
