// The capability table: queries against table files written here, and the
// table shipped beside the library.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "output/MediaStreamPair.h"
#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "platform/WideString.h"
#include "TestSupport.h"

namespace {

const char16_t kFailPrefix[] = u"CXml_Lossless_CheckInfos::CheckFormat failed ";

class CapsLosslessCheck : public ::testing::Test {
protected:
    void SetUp() override {
        kx::BuildCodecNameTable();
        video_.mediaType = kx::MediaType::kVideo;
        video_.codecId = 28;
        audio_.mediaType = kx::MediaType::kAudio;
        audio_.codecId = 0x15002;
        pair_.video = &video_;
        pair_.audio = &audio_;
    }

    // Writes a table file with the given OUTPUT_MAP contents; returns its path.
    std::u16string Table(const std::string& map, const std::string& name = "table.xml") {
        const std::string path = ::testing::TempDir() + "kx_caps_" + std::to_string(getpid()) + "_" + name;
        std::ofstream(path) << "<?xml version=\"1.0\"?>\n<Quentara_XML><OUTPUT_MAP>" << map
                            << "</OUTPUT_MAP></Quentara_XML>\n";
        written_.push_back(path);
        return kxtest::Wide(path);
    }

    void TearDown() override {
        for (const auto& path : written_) std::remove(path.c_str());
    }

    bool Check(const std::u16string& table, const std::u16string& output) {
        return kx::CheckMuxerValidWithTable(table.c_str(), output.c_str(), &pair_);
    }

    // The failure lines logged, without the common prefix.
    static std::vector<std::u16string> Failures(kxtest::LogCapture& log) {
        std::vector<std::u16string> out;
        for (const auto& line : log.Lines())
            if (line.rfind(kFailPrefix, 0) == 0) out.push_back(line.substr(std::char_traits<char16_t>::length(kFailPrefix)));
        return out;
    }

    kx::StreamMediaInfo video_, audio_;
    kx::MediaStreamPair pair_;
    std::vector<std::string> written_;
};

const char kMp4[] = "<MP4><VIDEO><H264/></VIDEO><AUDIO><AAC/><MP3/></AUDIO></MP4>";

}  // namespace

TEST_F(CapsLosslessCheck, AcceptsListedCodecsWhicheverGroupHoldsThem) {
    kxtest::LogCapture log;
    EXPECT_TRUE(Check(Table(kMp4), u"/out/clip.mp4"));
    EXPECT_TRUE(Check(Table("<MP4><A><AAC/></A><B><X/><H264/></B></MP4>"), u"clip.Mp4"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(CapsLosslessCheck, ExtensionIsComparedInCapitals) {
    kxtest::LogCapture log;
    EXPECT_FALSE(Check(Table("<mp4><V><H264/><AAC/></V></mp4>"), u"clip.mp4"));
    ASSERT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[0] fcc[H264]"});
    // The exact line, without a line end of its own.
    EXPECT_TRUE(log.Contains(FormatLogLine(kx::legacy::kCodecNotListed, 0, u"H264")));
}

TEST_F(CapsLosslessCheck, AudioOnlyPairIsRefusedBeforeTheFileIsRead) {
    kxtest::LogCapture log;
    pair_.video = nullptr;
    EXPECT_FALSE(Check(u"/nonexistent/LossLess_xml.xml", u"clip.mp4"));
    EXPECT_FALSE(kx::CHECKMuxerValid(u"clip.mp4", &pair_));
    EXPECT_FALSE(kx::CHECKMuxerValid(u"clip.mp4", nullptr));
    EXPECT_FALSE(kx::CHECKMuxerValid(nullptr, &pair_));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(CapsLosslessCheck, AnEmptyEntryEndsTheSearch) {
    kxtest::LogCapture log;
    EXPECT_FALSE(Check(Table("<MP4/><MP4><V><H264/><AAC/></V></MP4>"), u"a.mp4"));
    EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[0] fcc[H264]"});
}

TEST_F(CapsLosslessCheck, FirstMissingCodecIsReportedVideoFirst) {
    {
        kxtest::LogCapture log;
        EXPECT_FALSE(Check(Table("<MP4><V><H264/></V><A><MP3/></A></MP4>"), u"a.mp4"));
        EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[2] fcc[AAC]"});
    }
    {
        kxtest::LogCapture log;
        audio_.codecId = 0x15001;  // MP3
        EXPECT_FALSE(Check(Table("<MP4><A><AAC/></A></MP4>"), u"a.mp4"));
        EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[1] fcc[H264]"});
    }
    {
        // Not an H.264 stream: its own short name must be listed.
        kxtest::LogCapture log;
        video_.codecId = 2;
        pair_.audio = nullptr;
        EXPECT_FALSE(Check(Table(kMp4), u"a.mp4"));
        EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[3] fcc[MPEG2]"});
    }
    {
        // An identifier without a row leaves the name empty.
        kxtest::LogCapture log;
        video_.codecId = 0x12345;
        EXPECT_FALSE(Check(Table(kMp4), u"a.mp4"));
        EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[3] fcc[]"});
    }
}

TEST_F(CapsLosslessCheck, MissingOrMalformedTableRefusesWithALogLine) {
    const std::u16string missing = kxtest::Wide(::testing::TempDir() + "kx_caps_missing_LossLess_xml.xml");
    {
        kxtest::LogCapture log;
        EXPECT_FALSE(Check(missing, u"a.mp4"));
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0], FormatLogLine(kx::legacy::kTableLoadFailed, missing.c_str()));
    }
    for (const std::string& broken : {std::string("<Quentara_XML><OUTPUT_MAP><MP4><V><H264/></V></MP4>"),
                                      std::string(""), std::string("\x01\x02 not xml")}) {
        const std::string path = ::testing::TempDir() + "kx_caps_broken_" + std::to_string(getpid()) + ".xml";
        std::ofstream(path, std::ios::binary) << broken;
        written_.push_back(path);
        kxtest::LogCapture log;
        EXPECT_FALSE(Check(kxtest::Wide(path), u"a.mp4")) << broken;
        EXPECT_EQ(log.Lines().size(), 1u);
    }
    {
        // Well-formed, but not our layout: nothing is accepted.
        kxtest::LogCapture log;
        const std::string path = ::testing::TempDir() + "kx_caps_other_" + std::to_string(getpid()) + ".xml";
        std::ofstream(path) << "<OUTPUT_MAP>" << kMp4 << "</OUTPUT_MAP>";
        written_.push_back(path);
        EXPECT_FALSE(Check(kxtest::Wide(path), u"a.mp4"));
        EXPECT_EQ(Failures(log), std::vector<std::u16string>{u"codecnum[0] fcc[H264]"});
    }
}

// The table shipped beside the library.
TEST_F(CapsLosslessCheck, ShippedTable) {
    struct Case {
        const char16_t* name;
        int32_t video;
        int32_t audio;  // 0: no audio stream
        bool accepted;
    };
    const Case cases[] = {
        {u"o.mp4", 28, 0x15002, true},   {u"o.MP4", 28, 0x15001, true},   {u"o.mp4", 28, 0x15003, true},
        {u"o.mp4", 28, 0x10000, false},  {u"o.mov", 28, 0x10000, true},   {u"o.mkv", 28, 0x15003, true},
        {u"o.mts", 28, 0x15002, true},   {u"o.m2ts", 28, 0x15003, true},  {u"o.ts", 28, 0x15001, true},
        {u"o.ts", 28, 0x10000, false},   {u"o.avi", 28, 0x15001, true},   {u"o.avi", 28, 0x10000, true},
        {u"o.flv", 28, 0x15002, true},   {u"o.flv", 28, 0x15003, false},  {u"o.mpg", 28, 0x15003, true},
        {u"o.mpg", 1, 0x15000, true},    {u"o.mpg", 2, 0x15000, true},    {u"o.mpg", 28, 0x15002, false},
        {u"o.mp4", 1, 0x15002, true},    {u"o.ts", 1, 0x15000, true},     {u"o.mp4", 28, 0, true},
        {u"o.xyz", 28, 0x15002, false},  {u"o", 28, 0x15002, false},      {u"o.flv", 28, 0x15000, false},
    };
    for (const auto& c : cases) {
        video_.codecId = c.video;
        audio_.codecId = c.audio;
        pair_.audio = c.audio ? &audio_ : nullptr;
        EXPECT_EQ(kx::CHECKMuxerValid(c.name, &pair_), c.accepted)
            << kxtest::Narrow(c.name) << " " << c.video << " " << c.audio;
    }
}
