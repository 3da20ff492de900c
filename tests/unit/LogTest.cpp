// The log lines as hosts receive them through the sink.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/KX_Log.h"
#include "platform/LegacyLogLines.h"
#include "TestSupport.h"

using kxtest::LogCapture;

TEST(Log, FormatExpandsTheComponentsConversions) {
    LogCapture capture;
    LogFormat(kx::legacy::kOpenStream, u"/media/Fête.mp4", 3);
    LogFormat(u"[%I64d] %ls|%03I64d|%%|%d\r\n", int64_t(1) << 40, u"wide", int64_t(7), -5);
    LogFormat(u"surplus %d\n", 1, 2, 3);
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"OpenStream FileName = /media/Fête.mp4,StreamIndex = 3 \n");
    EXPECT_EQ(lines[1], u"[1099511627776] wide|007|%|-5\r\n");
    EXPECT_EQ(lines[2], u"surplus 1\n");
}

// Hosts parse these lines: a change to one is a change of the interface.
TEST(Log, LegacyLinesKeepTheirWords) {
    const std::vector<std::pair<std::u16string, std::u16string>> lines{
        {kx::legacy::kError, u"Remuxion Error::%s Error!\r\n"},
        {kx::legacy::kPathTooLong, u"FILE LEN Greater than the MAX_FILE_PATH_LOSS_KX 2048 \n"},
        {kx::legacy::kOpenStream, u"OpenStream FileName = %s,StreamIndex = %d \n"},
        {kx::legacy::kMediaInfoBegin, u"GetFileMediaInfo begin\n"},
        {kx::legacy::kMediaInfoEnd, u"GetFileMediaInfo end\n"},
        {kx::legacy::kKeyFrameIndex, u" GetFileKeyFrameIndex 1"},
        {kx::legacy::kNoFilesToMerge, u"ADD SUCCESS FILE NUM = 0 \n"},
        {kx::legacy::kTableLoadFailed, u"CXml_Lossless_CheckInfos::Load failed file[%s]\n"},
        {kx::legacy::kCodecNotListed, u"CXml_Lossless_CheckInfos::CheckFormat failed codecnum[%d] fcc[%s]"},
        {kx::legacy::kContainerRefused, u"CTMuxer::OpenMuxer CHECKMuxerValid failed\n"},
        {kx::legacy::kUnknownInputCodec, u"[warn] input found internal encoder[%d] error\n"},
        {kx::legacy::kUnknownOutputCodec, u"[warn] output found internal encoder[%d] error\n"},
        {kx::legacy::kOpenMuxerFailed, u"OpenMuxer Failed ,taskFileName = %s \n"},
        {kx::legacy::kSplitStreamFailed, u"SPLITER ADD STREAM FAILED ,FileName =%s,streamid = %d \n"},
        {kx::legacy::kSplitHeaderFailed, u"SPLITER ADD STREAM FAILED ,FileName =%s \n"},
        {kx::legacy::kMergeStreamFailed, u"MERGE ADD STREAM FAILED ,FileName =%s,streamid = %d \n"},
        {kx::legacy::kMergeHeaderFailed, u"MERGE ADD STREAM FAILED ,FileName =%s \n"},
        {kx::legacy::kMixStreamFailed, u"STREAMMIX ADD STREAM FAILED ,FileName =%s,streamid = %d \n"},
        {kx::legacy::kMixHeaderFailed, u"STREAMMIX ADD STREAM FAILED ,FileName =%s \n"},
        {kx::legacy::kMixTooManyStreams, u"Loss Converter SteamMix ,every file seleting stream num must less than two \n"},
        {kx::legacy::kMixNoAnalyze, u"Loss Converter SteamMix ,can't get ITAnalyze \n"},
        {kx::legacy::kSplitClipBegin, u"++++++++++++++ Spliter Clip  Begin  +++++++++++++++ \n"},
        {kx::legacy::kMergeClipBegin, u"\n\n ++++++++++++++ Merge Clip  Begin  +++++++++++++++ \n\n"},
        {kx::legacy::kMixBegin, u"\n\n ++++++++++++++ Mix Stream   Begin  +++++++++++++++ \n\n"},
        {kx::legacy::kClipBegin, u" Begin Spliter clip num = %I64d ,clipbegintime = %I64d, clipName = %s \n"},
        {kx::legacy::kMixClipBegin, u" Begin stream clip len = %I64d ,clipbegintime = %I64d, clipName = %s \n"},
        {kx::legacy::kClipNoOutput, u" clipmuxer is NULL,And spliter failed; filename = %s,clipnum = %d \n"},
        {kx::legacy::kMixNoOutput, u" clipmuxer is NULL,And spliter failed; filename = %s,stream mix num = %d \n"},
        {kx::legacy::kClipNoReader, u" Demuxer is Null,And spliter failed; filename = %s,clipnum = %d \n"},
        {kx::legacy::kMixNoReader, u" Demuxer is Null,And spliter failed; filename = %s,select stream num  = %d \n"},
        {kx::legacy::kTimeClipInputEnded, u"Can't get CompressFrame exit,cliptype = time ,and lastpackpts = %I64d ,writepacketnum = %I64d\n"},
        {kx::legacy::kMixInputEnded, u"Can't get CompressFrame exit,FileName = %s ,and lastpackpts = %I64d ,writepacketnum = %I64d\n"},
        {kx::legacy::kTimeClipEnded, u"exit,cliptype = time ,and lastpackpts = %I64d ,writepacketnum = %I64d\n"},
        {kx::legacy::kSizeClipEnded, u"exit,cliptype = SIZE ,and nClipSize = %I64d ,lastpackpts = %I64d \n"},
        {kx::legacy::kNoOutputStream, u"dont't find demuxindx to  muxindx ,then crash the app \n"},
        {kx::legacy::kPacketWithoutOutput, u"packet stream index = %d \n"},
        {kx::legacy::kThreeByteStartCode, u"CTMuxer::WriteVideoPacket packet Nal header err 000001\n"},
    };
    for (const auto& [written, known] : lines) EXPECT_EQ(written, known) << kxtest::Narrow(known.c_str());
}
