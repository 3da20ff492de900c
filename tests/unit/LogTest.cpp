#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/KX_Log.h"

using kxtest::LogCapture;

TEST(Log, TextGoesToTheSinkUnchanged) {
    LogCapture capture;
    LogText(u"GetFileMediaInfo begin\n");
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], u"GetFileMediaInfo begin\n");
}

TEST(Log, FormatExpandsTheComponentsConversions) {
    LogCapture capture;
    LogFormat(u"OpenStream FileName = %s,StreamIndex = %d \n", u"/media/Fête.mp4", 3);
    LogFormat(u"[%I64d] %ls|%03I64d|%%|%d\r\n", int64_t(1) << 40, u"wide", int64_t(7), -5);
    LogFormat(u"surplus %d\n", 1, 2, 3);
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"OpenStream FileName = /media/Fête.mp4,StreamIndex = 3 \n");
    EXPECT_EQ(lines[1], u"[1099511627776] wide|007|%|-5\r\n");
    EXPECT_EQ(lines[2], u"surplus 1\n");
}

TEST(Log, BaseDirectoryIsTheModulesFolder) {
    char16_t buffer[1024];
    GetBaseDirectory(buffer, 1024);
    std::string dir = kxtest::Narrow(buffer);
    EXPECT_EQ(dir, KX_BUILD_DIR);
    EXPECT_NE(dir.back(), '/');
}
