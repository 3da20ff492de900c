// The log lines hosts have always seen, word for word (spelling, spacing and
// line ends included), because hosts may parse them. Every such line is
// written with one of these formats (LogFormat conversions), and tests
// compare with them; the component's newer lines are free text and are
// not listed here.
#pragma once

namespace kx::legacy {

// Inputs and queries.
inline constexpr char16_t kError[] = u"Remuxion Error::%s Error!\r\n";  // "CreateDemuxer failed", "OpenDemuxer failed"
inline constexpr char16_t kPathTooLong[] = u"FILE LEN Greater than the MAX_FILE_PATH_LOSS_KX 2048 \n";
inline constexpr char16_t kOpenStream[] = u"OpenStream FileName = %s,StreamIndex = %d \n";
inline constexpr char16_t kMediaInfoBegin[] = u"GetFileMediaInfo begin\n";
inline constexpr char16_t kMediaInfoEnd[] = u"GetFileMediaInfo end\n";
inline constexpr char16_t kKeyFrameIndex[] = u" GetFileKeyFrameIndex 1";
inline constexpr char16_t kNoFilesToMerge[] = u"ADD SUCCESS FILE NUM = 0 \n";

// The capability table and the codec tables.
inline constexpr char16_t kTableLoadFailed[] = u"CXml_Lossless_CheckInfos::Load failed file[%s]\n";
inline constexpr char16_t kCodecNotListed[] = u"CXml_Lossless_CheckInfos::CheckFormat failed codecnum[%d] fcc[%s]";
inline constexpr char16_t kContainerRefused[] = u"CTMuxer::OpenMuxer CHECKMuxerValid failed\n";
inline constexpr char16_t kUnknownInputCodec[] = u"[warn] input found internal encoder[%d] error\n";
inline constexpr char16_t kUnknownOutputCodec[] = u"[warn] output found internal encoder[%d] error\n";

// Task set-up.
inline constexpr char16_t kOpenMuxerFailed[] = u"OpenMuxer Failed ,taskFileName = %s \n";
inline constexpr char16_t kSplitStreamFailed[] = u"SPLITER ADD STREAM FAILED ,FileName =%s,streamid = %d \n";
inline constexpr char16_t kSplitHeaderFailed[] = u"SPLITER ADD STREAM FAILED ,FileName =%s \n";
inline constexpr char16_t kMergeStreamFailed[] = u"MERGE ADD STREAM FAILED ,FileName =%s,streamid = %d \n";
inline constexpr char16_t kMergeHeaderFailed[] = u"MERGE ADD STREAM FAILED ,FileName =%s \n";
inline constexpr char16_t kMixStreamFailed[] = u"STREAMMIX ADD STREAM FAILED ,FileName =%s,streamid = %d \n";
inline constexpr char16_t kMixHeaderFailed[] = u"STREAMMIX ADD STREAM FAILED ,FileName =%s \n";
inline constexpr char16_t kMixTooManyStreams[] =
    u"Loss Converter SteamMix ,every file seleting stream num must less than two \n";
inline constexpr char16_t kMixNoAnalyze[] = u"Loss Converter SteamMix ,can't get ITAnalyze \n";

// The copy engines.
inline constexpr char16_t kSplitClipBegin[] = u"++++++++++++++ Spliter Clip  Begin  +++++++++++++++ \n";
inline constexpr char16_t kMergeClipBegin[] = u"\n\n ++++++++++++++ Merge Clip  Begin  +++++++++++++++ \n\n";
inline constexpr char16_t kMixBegin[] = u"\n\n ++++++++++++++ Mix Stream   Begin  +++++++++++++++ \n\n";
inline constexpr char16_t kClipBegin[] = u" Begin Spliter clip num = %I64d ,clipbegintime = %I64d, clipName = %s \n";
inline constexpr char16_t kMixClipBegin[] = u" Begin stream clip len = %I64d ,clipbegintime = %I64d, clipName = %s \n";
inline constexpr char16_t kClipNoOutput[] = u" clipmuxer is NULL,And spliter failed; filename = %s,clipnum = %d \n";
inline constexpr char16_t kMixNoOutput[] =
    u" clipmuxer is NULL,And spliter failed; filename = %s,stream mix num = %d \n";
inline constexpr char16_t kClipNoReader[] = u" Demuxer is Null,And spliter failed; filename = %s,clipnum = %d \n";
inline constexpr char16_t kMixNoReader[] =
    u" Demuxer is Null,And spliter failed; filename = %s,select stream num  = %d \n";
inline constexpr char16_t kTimeClipInputEnded[] =
    u"Can't get CompressFrame exit,cliptype = time ,and lastpackpts = %I64d ,writepacketnum = %I64d\n";
inline constexpr char16_t kMixInputEnded[] =
    u"Can't get CompressFrame exit,FileName = %s ,and lastpackpts = %I64d ,writepacketnum = %I64d\n";
inline constexpr char16_t kTimeClipEnded[] = u"exit,cliptype = time ,and lastpackpts = %I64d ,writepacketnum = %I64d\n";
inline constexpr char16_t kSizeClipEnded[] = u"exit,cliptype = SIZE ,and nClipSize = %I64d ,lastpackpts = %I64d \n";
inline constexpr char16_t kNoOutputStream[] = u"dont't find demuxindx to  muxindx ,then crash the app \n";
inline constexpr char16_t kPacketWithoutOutput[] = u"packet stream index = %d \n";

// The writer.
inline constexpr char16_t kThreeByteStartCode[] = u"CTMuxer::WriteVideoPacket packet Nal header err 000001\n";

}  // namespace kx::legacy
