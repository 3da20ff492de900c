/*
 * KX_Remuxion public interface.
 *
 * Everything a host needs: the exported functions, the COM-style interfaces
 * with their slot order, the interface and class identifiers, and the records
 * that hosts read directly. Usable from C (lpVtbl tables) and from C++
 * (abstract classes with the same slot order).
 */
#ifndef KX_REMUXION_H
#define KX_REMUXION_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
#define KX_EXPORT __declspec(dllexport)
#else
#define KX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Basic Windows-compatible types                                            */
/* ------------------------------------------------------------------------ */

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef char16_t OLECHAR;
/* Length-prefixed UTF-16 string: a 32-bit byte count precedes the characters. */
typedef OLECHAR* BSTR;

typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

/* Identifiers are passed by pointer in C and C++ alike, so a null one can be refused. */
typedef const GUID* REFIID;
typedef const GUID* REFCLSID;

#define KX_S_OK ((HRESULT)0)
#define KX_S_FALSE ((HRESULT)1)
#define KX_E_NOINTERFACE ((HRESULT)0x80004002)
#define KX_E_POINTER ((HRESULT)0x80004003)
#define KX_E_FAIL ((HRESULT)0x80004005)
#define KX_E_INVALIDARG ((HRESULT)0x80070057)
#define KX_E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define KX_CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define KX_CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
/* A refusal of the system: the errno value in the low 16 bits, as Windows
 * wraps its own error numbers (0x8007001C: ENOSPC, no space left on device). */
#define KX_E_FROM_ERRNO(e) ((HRESULT)(0x80070000u | ((uint32_t)(e) & 0xFFFFu)))
/* An input ended before its index or duration said: cut short, or cut while
 * it was read (KX_NOTIFY_TASK_FAILED, KX_GetLastErrorText). */
#define KX_E_INPUT_ENDED_EARLY ((HRESULT)0x80040201)
#define KX_WAIT_OBJECT_0 0u
#define KX_WAIT_TIMEOUT 0x102u
#define KX_INFINITE 0xFFFFFFFFu

/* ------------------------------------------------------------------------ */
/* Interface declaration macros (C++: abstract classes; C: vtables)          */
/* ------------------------------------------------------------------------ */

#ifdef __cplusplus
#define KX_INTERFACE(name) struct name
#define KX_INTERFACE_(name, base) struct name : public base
#define KX_METHOD(ret, name) virtual ret name
#define KX_PURE = 0
#define KX_THIS_
#define KX_THIS void
#define KX_BEGIN {
#define KX_END(name) };
#else
#define KX_INTERFACE(name) \
    typedef struct name##Vtbl name##Vtbl; \
    typedef struct name { const name##Vtbl* lpVtbl; } name; \
    struct name##Vtbl
#define KX_INTERFACE_(name, base) KX_INTERFACE(name)
#define KX_METHOD(ret, name) ret (*name)
#define KX_PURE
#define KX_THIS_ KX_SELF* This,
#define KX_THIS KX_SELF* This
#define KX_BEGIN {
#define KX_END(name) };
#endif

/* The three IUnknown slots every interface starts with. */
#define KX_IUNKNOWN_METHODS \
    KX_METHOD(HRESULT, QueryInterface)(KX_THIS_ REFIID riid, void** ppv) KX_PURE; \
    KX_METHOD(ULONG, AddRef)(KX_THIS) KX_PURE; \
    KX_METHOD(ULONG, Release)(KX_THIS) KX_PURE;

#undef KX_SELF
#define KX_SELF IUnknown
KX_INTERFACE(IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS
KX_END(IUnknown)

#undef KX_SELF
#define KX_SELF IClassFactory
KX_INTERFACE_(IClassFactory, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS
    KX_METHOD(HRESULT, CreateInstance)(KX_THIS_ IUnknown* outer, REFIID riid, void** ppv) KX_PURE;
    KX_METHOD(HRESULT, LockServer)(KX_THIS_ BOOL lock) KX_PURE;
KX_END(IClassFactory)

/* ------------------------------------------------------------------------ */
/* Identifiers                                                               */
/* ------------------------------------------------------------------------ */

/* {B4BFC2EE-D154-4139-9986-07A6BCC5D3F5} "Create LossLessCopy" */
static const CLSID CLSID_Streamwright = {0xB4BFC2EE, 0xD154, 0x4139, {0x99, 0x86, 0x07, 0xA6, 0xBC, 0xC5, 0xD3, 0xF5}};
static const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IStreamwright = {0xFB138BF6, 0x5614, 0x4D3E, {0xA1, 0xD7, 0x33, 0x72, 0x09, 0x29, 0xD7, 0x7E}};
static const IID IID_IStreamInfo = {0x58FE100C, 0xDCD4, 0x49DB, {0x99, 0x30, 0x32, 0x61, 0x74, 0xCC, 0x0E, 0xCC}};
static const IID IID_IStreamInfoSrc = {0xA9AF814A, 0x6F97, 0x4A81, {0x94, 0x53, 0x40, 0x70, 0xEE, 0xC7, 0x61, 0xBB}};
static const IID IID_IMediaStreamEx = {0x35B968AB, 0x69C3, 0x4B2D, {0xBB, 0x20, 0x96, 0x8F, 0x43, 0x88, 0x6F, 0xEB}};
static const IID IID_ILossCopyMediaInfo = {0x104B3F4D, 0xB9CB, 0x48F1, {0x9D, 0x3D, 0x50, 0x4B, 0x24, 0x94, 0xFE, 0xF2}};
static const IID IID_IMerge_LossCopy_Check_Info = {0xFC48C7F4, 0x4AB9, 0x4AD0, {0xAE, 0x80, 0xBD, 0x24, 0xFC, 0x22, 0x4D, 0xF3}};
static const IID IID_IKXSample = {0x141440F3, 0x0452, 0x423F, {0x8A, 0xEF, 0xAF, 0xDC, 0x90, 0xC0, 0xA2, 0x07}};

/* ------------------------------------------------------------------------ */
/* Records shared with hosts                                                 */
/* ------------------------------------------------------------------------ */

/* Task types for SetTaskType. */
enum { KX_TASK_SPLIT = 0, KX_TASK_MERGE = 1, KX_TASK_STREAM_MIX = 2 };
/* Task option for a split (second value of SetTaskType): the size clips of a
 * file are pieces that follow on in one pass. The first starts at its start
 * (seconds, at a key frame); each ends at the first key frame shown after its
 * payload reached its size (without video: after the packet that reached
 * it), and the next starts exactly there; the file's last size clip takes the
 * rest. Pieces after the input ran out write nothing and make no file. Cuts
 * are made as at key frames otherwise (0 places them at any frame). */
enum { KX_TASK_OPTION_SIZE_PIECES = 0x100 };
/* Task option for a split: each time clip starts at the first picture shown
 * at or after its start and ends before the first picture shown at or after
 * its end. The pictures between a cut and the nearest key frame inside the
 * clip are decoded and encoded again (H.264, libx264, matched to the
 * source); everything else is copied as at key frames, sound and subtitles
 * are cut by time. A clip that cannot be cut so (another codec, interlaced
 * pictures, a key frame that is not an IDR picture) is cut at key frames;
 * KX_GetClipCutReport tells which and why. */
enum { KX_TASK_OPTION_EXACT_FRAMES = 0x200 };
/* Stream kinds for OpenStream / GetStream. A selected subtitle stream is
 * copied and cut by time, like sound; it has no decoding reader. */
enum { KX_STREAM_VIDEO = 1, KX_STREAM_AUDIO = 2, KX_STREAM_SUBTITLE = 3 };

/* A clip: time clips in 100-ns ticks, size clips in bytes. */
typedef struct ClipRange {
    int64_t start;
    int64_t length;
    int64_t count;
} ClipRange;

/* Which file and clip a task notification is about; -1 means none. */
typedef struct TaskCursor {
    int64_t fileId;
    int64_t clipIndex;
} TaskCursor;

/* Host notification: (context, code, cursor or null, value). Result ignored. */
typedef int32_t (*TaskCallback)(void* context, int32_t code, TaskCursor* cursor, int32_t value);

/* Notification codes, shared by the task and key-frame callbacks. */
enum {
    KX_NOTIFY_TASK_BEGIN = 0,
    KX_NOTIFY_TASK_END = 1,
    KX_NOTIFY_FILE_BEGIN = 2,
    KX_NOTIFY_FILE_END = 3,
    KX_NOTIFY_CLIP_BEGIN = 4,
    KX_NOTIFY_CLIP_END = 5,
    KX_NOTIFY_PROGRESS = 6,
    KX_NOTIFY_KEYFRAME_PROGRESS = 7,
    KX_NOTIFY_KEYFRAME_BEGIN = 8,
    KX_NOTIFY_KEYFRAME_DONE = 9,
    KX_NOTIFY_INPUT_ENDED = 10,
    KX_NOTIFY_CLIP_PROGRESS = 11,
    /* The task failed and stopped: an output could not be created, written,
     * closed or named. value: the status, KX_E_FROM_ERRNO(errno) when the
     * system refused, else KX_E_FAIL; cursor as for KX_NOTIFY_TASK_END. Sent
     * once, just before KX_NOTIFY_TASK_END; KX_GetLastErrorText gives the
     * reason. The output being written is removed; outputs completed before
     * it stay (KX_IsOutputComplete). With KX_E_INPUT_ENDED_EARLY the task ran
     * to its end but an input ended before its index or duration said: every
     * output was finished and stays, holding what the input held. */
    KX_NOTIFY_TASK_FAILED = 12
};

/* One key frame of a video stream (24 bytes). */
typedef struct KeyFrameRecord {
    int32_t keyFrameNumber;
    int32_t reserved;
    int64_t time;        /* 100-ns ticks */
    int64_t frameNumber; /* 0-based packet number within the stream */
} KeyFrameRecord;

/*
 * Host-owned list that GetFileKeyFrameIndex appends to. The array grows with
 * realloc; release it with KX_FreeKeyFrameList (or free(items)).
 */
typedef struct KeyFrameList {
    int64_t count;
    KeyFrameRecord* items;
    int64_t capacity;
} KeyFrameList;

/* ---- media information records (FileMediaInfo and friends) ---- */
/* [media-info records] */

/*
 * Whole-file media information (CTMediaInfo). Fixed layouts; every byte not
 * named here is 0. Codec identifiers use this component's numbering
 * (28 = H.264, 0x15002 = AAC).
 */

/*
 * A codec that numbering lacks is reported as 0x40000000 + its AVCodecID
 * value in FFmpeg 5.1. These are the ones this component copies.
 */
enum {
    KX_CODEC_HEVC = 0x400000AD,
    KX_CODEC_VP9 = 0x400000A7,
    KX_CODEC_AV1 = 0x400000E2,
    KX_CODEC_ASS = 0x40017016 /* ASS/SSA subtitles as FFmpeg 5.1 reads them */
};

/* One video or audio stream (408 bytes). */
typedef struct MediaStreamRecord {
    uint32_t mediaType;       /*   0: 1 video, 2 audio, 0 unfilled */
    uint32_t streamIndex;     /*   4: index of the stream in the file */
    int32_t streamId;         /*   8: (entry & 0xFF) << 16 | index, audio index + 0x4000; -1 unfilled */
    uint32_t codecId;         /*  12 */
    char codecName[32];       /*  16: narrow codec name, e.g. "h264" */
    uint8_t reserved48[224];  /*  48 */
    double duration;          /* 272: seconds */
    uint32_t bitRate;         /* 280: the container's, else measured from the packet sizes */
    uint32_t reserved284;     /* 284 */
    uint32_t width;           /* 288: video */
    uint32_t height;          /* 292: video */
    double frameRate;         /* 296: video, frames per second; 0 when the rate varies */
    uint32_t aspectNum;       /* 304: video, width x SAR num (0 without a SAR) */
    uint32_t aspectDen;       /* 308: video, height x SAR den (1 without a SAR) */
    uint8_t reserved312[12];  /* 312 */
    uint32_t profile;         /* 324: video, bits 0x0200 and 0x0800 cleared */
    uint32_t level;           /* 328: video */
    uint32_t maxBFrames;      /* 332: video */
    uint32_t sampleRate;      /* 336: audio */
    uint32_t channels;        /* 340: audio */
    uint32_t bitsPerSample;   /* 344: audio, 16 when unknown */
    uint32_t bytesPerSecond;  /* 348: audio */
    double audioDuration;     /* 352: audio, the stream's own duration in seconds */
    uint8_t reserved360[8];   /* 360 */
    int64_t reserved368;      /* 368: 0 */
    int64_t reserved376;      /* 376: 0 */
    uint32_t reserved384;     /* 384: always 2 */
    uint32_t extradataSize;   /* 388 */
    uint8_t* extradata;       /* 392: owned copy */
    uint32_t displayWidth;    /* 400: video, width x SAR num */
    uint32_t displayHeight;   /* 404: video, height x SAR den */
} MediaStreamRecord;

/* One program of the file, or the extra entry for streams of no program (56 bytes). */
typedef struct ProgramInfo {
    uint32_t number;                /*  0: 1-based */
    uint32_t reserved4;             /*  4 */
    double duration;                /*  8: the file's duration, seconds */
    uint32_t bitRate;               /* 16: sum of the video and audio bit rates */
    uint32_t videoCount;            /* 20 */
    uint32_t audioCount;            /* 24 */
    uint32_t subtitleCount;         /* 28 */
    MediaStreamRecord* videos;      /* 32 */
    MediaStreamRecord* audios;      /* 40 */
    MediaStreamRecord* subtitles;   /* 48: left at their initial values */
} ProgramInfo;

/* The whole file (1056 bytes). */
typedef struct FileMediaInfo {
    OLECHAR path[512];      /*    0: NUL-terminated */
    double duration;        /* 1024: seconds */
    uint32_t totalBitRate;  /* 1032: file size x 8 / duration */
    uint32_t programCount;  /* 1036: entries in programs */
    uint32_t hasExtra;      /* 1040: 1 when the last entry gathers streams of no program */
    uint32_t reserved1044;  /* 1044 */
    ProgramInfo* programs;  /* 1048 */
} FileMediaInfo;

/* ---- media sample record (MediaFrameRecord) ---- */
/* [sample records] */

/* Status of every refused IKXSample operation. */
#define KX_E_SAMPLE_REFUSED ((HRESULT)0x80000010)

/* Media type codes of a media sample and its frame record. */
enum { KX_SAMPLE_VIDEO = 2, KX_SAMPLE_AUDIO = 3 };
/* Video record formats. */
enum { KX_FRAME_BITMAP = 0, KX_FRAME_PLANAR = 1, KX_FRAME_BYTES = 2 };

/* A Windows BITMAPINFOHEADER (40 bytes). */
typedef struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage; /* bytes of pixel data */
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BitmapInfoHeader;

/* PCM audio (record offsets 8-39). */
typedef struct MediaFrameAudio {
    int32_t sampleRate;    /* 8 */
    int32_t channels;      /* 12 */
    int32_t bitsPerSample; /* 16 */
    int32_t reserved;      /* 20 */
    uint8_t* buffer;       /* 24 */
    int32_t bytesHeld;     /* 32 */
    int32_t capacity;      /* 36: bytes the buffer can hold */
} MediaFrameAudio;

/* Format 0: a bitmap (record offsets 16-63). */
typedef struct MediaFrameBitmap {
    BitmapInfoHeader header; /* 16; header.biSizeImage (36) is the data size */
    uint8_t* pixels;         /* 56 */
} MediaFrameBitmap;

/* Format 1: planar YUV, one buffer that starts with the Y plane (record offsets 16-79). */
typedef struct MediaFramePlanar {
    int32_t layout; /* 16: always 2 */
    int32_t reserved;
    uint8_t* y;     /* 24 */
    uint8_t* u;     /* 32 */
    uint8_t* v;     /* 40 */
    uint8_t* alpha; /* 48 */
    int32_t width;  /* 56 */
    int32_t height; /* 60 */
    int32_t yRowLength;     /* 64 */
    int32_t uRowLength;     /* 68 */
    int32_t vRowLength;     /* 72 */
    int32_t alphaRowLength; /* 76 */
} MediaFramePlanar;

/* Format 2: a block of bytes (record offsets 16-31). */
typedef struct MediaFrameBytes {
    uint8_t* data;     /* 16 */
    int32_t bytesHeld; /* 24 */
    int32_t capacity;  /* 28 */
} MediaFrameBytes;

/* A picture (record offsets 8-87). */
typedef struct MediaFrameVideo {
    int32_t format; /* 8: KX_FRAME_BITMAP, KX_FRAME_PLANAR or KX_FRAME_BYTES */
    int32_t reserved;
    union {
        MediaFrameBitmap bitmap;
        MediaFramePlanar planar;
        MediaFrameBytes bytes;
    };
    int32_t keyFrame; /* 80 */
} MediaFrameVideo;

/*
 * The frame behind IKXSample::GetFrameRecord (136 bytes). Buffers of a record
 * are C heap memory (malloc/free): a sample may replace a buffer that is too
 * small for the frame copied into it.
 */
typedef struct MediaFrameRecord {
    int32_t mediaType; /* 0: KX_SAMPLE_VIDEO or KX_SAMPLE_AUDIO */
    int32_t subtype;   /* 4 */
    union {
        MediaFrameAudio audio;
        MediaFrameVideo video;
        uint8_t body[104];
    };
    int64_t decodeTime;       /* 112: 100-ns ticks, -1 none */
    int64_t presentationTime; /* 120: 100-ns ticks, -1 none */
    int32_t duration;         /* 128: 100-ns ticks */
    int32_t reserved;
} MediaFrameRecord;

#ifdef __cplusplus
static_assert(sizeof(BitmapInfoHeader) == 40, "BitmapInfoHeader layout");
static_assert(offsetof(BitmapInfoHeader, biSizeImage) == 20, "BitmapInfoHeader layout");
static_assert(sizeof(MediaFrameRecord) == 136, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, mediaType) == 0, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, subtype) == 4, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, decodeTime) == 112, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, presentationTime) == 120, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, duration) == 128, "MediaFrameRecord layout");
static_assert(offsetof(MediaFrameRecord, audio.sampleRate) == 8, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, audio.channels) == 12, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, audio.bitsPerSample) == 16, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, audio.buffer) == 24, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, audio.bytesHeld) == 32, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, audio.capacity) == 36, "MediaFrameRecord audio layout");
static_assert(offsetof(MediaFrameRecord, video.format) == 8, "MediaFrameRecord video layout");
static_assert(offsetof(MediaFrameRecord, video.keyFrame) == 80, "MediaFrameRecord video layout");
static_assert(offsetof(MediaFrameRecord, video.bitmap.header) == 16, "MediaFrameRecord bitmap layout");
static_assert(offsetof(MediaFrameRecord, video.bitmap.header.biSizeImage) == 36, "MediaFrameRecord bitmap layout");
static_assert(offsetof(MediaFrameRecord, video.bitmap.pixels) == 56, "MediaFrameRecord bitmap layout");
static_assert(offsetof(MediaFrameRecord, video.planar.layout) == 16, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.y) == 24, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.u) == 32, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.v) == 40, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.alpha) == 48, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.width) == 56, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.height) == 60, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.yRowLength) == 64, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.uRowLength) == 68, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.vRowLength) == 72, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.planar.alphaRowLength) == 76, "MediaFrameRecord planar layout");
static_assert(offsetof(MediaFrameRecord, video.bytes.data) == 16, "MediaFrameRecord byte-block layout");
static_assert(offsetof(MediaFrameRecord, video.bytes.bytesHeld) == 24, "MediaFrameRecord byte-block layout");
static_assert(offsetof(MediaFrameRecord, video.bytes.capacity) == 28, "MediaFrameRecord byte-block layout");
#endif

/* ------------------------------------------------------------------------ */
/* Interfaces handed to hosts                                                */
/* ------------------------------------------------------------------------ */

/* Result of CheckMerge. */
typedef struct MergeGroupEntry {
    int64_t* fileIds;
    int64_t count;
} MergeGroupEntry;

typedef struct MergeCheckResult {
    MergeGroupEntry* groups;
    int64_t groupCount;
} MergeCheckResult;

#undef KX_SELF
#define KX_SELF IMerge_LossCopy_Check_Info
KX_INTERFACE_(IMerge_LossCopy_Check_Info, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS
    KX_METHOD(MergeCheckResult*, GetCheckInfo)(KX_THIS) KX_PURE;
    KX_METHOD(HRESULT, ClearCheckInfo)(KX_THIS_ MergeCheckResult* result) KX_PURE;
KX_END(IMerge_LossCopy_Check_Info)

/* [information interfaces] */

/* The whole-file media description; its layout is given with the media-info records. */
#ifdef __cplusplus
struct FileMediaInfo;
#else
typedef struct FileMediaInfo FileMediaInfo;
#endif

/* A decoded media frame with its times. Slot numbers in comments. */
#undef KX_SELF
#define KX_SELF IKXSample
KX_INTERFACE_(IKXSample, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                        /* 0-2 */
    KX_METHOD(int32_t, GetLock)(KX_THIS) KX_PURE;                              /* 3 */
    KX_METHOD(int32_t, GetSubType)(KX_THIS) KX_PURE;                           /* 4 */
    KX_METHOD(int32_t, GetMediaType)(KX_THIS) KX_PURE;                         /* 5: KX_SAMPLE_VIDEO / KX_SAMPLE_AUDIO */
    KX_METHOD(int32_t, GetStreamTag)(KX_THIS) KX_PURE;                         /* 6 */
    KX_METHOD(int32_t, IsSyncPoint)(KX_THIS) KX_PURE;                          /* 7 */
    KX_METHOD(HRESULT, SetLock)(KX_THIS_ int32_t lock) KX_PURE;                /* 8 */
    KX_METHOD(int32_t, GetCapacity)(KX_THIS) KX_PURE;                          /* 9 */
    KX_METHOD(MediaFrameRecord*, GetFrameRecord)(KX_THIS) KX_PURE;            /* 10: null without a frame */
    KX_METHOD(HRESULT, Allocate)(KX_THIS_ uint32_t size) KX_PURE;              /* 11 */
    KX_METHOD(int64_t, GetDuration)(KX_THIS) KX_PURE;                          /* 12: -1 without a frame */
    KX_METHOD(int64_t, GetDecodeTime)(KX_THIS) KX_PURE;                        /* 13: -1 without a frame */
    KX_METHOD(int64_t, GetPresentationTime)(KX_THIS) KX_PURE;                  /* 14: -1 without a frame */
    KX_METHOD(HRESULT, SetDecodeTime)(KX_THIS_ int64_t time) KX_PURE;          /* 15 */
    KX_METHOD(HRESULT, SetPresentationTime)(KX_THIS_ int64_t time) KX_PURE;    /* 16 */
    KX_METHOD(HRESULT, SetDuration)(KX_THIS_ int64_t duration) KX_PURE;        /* 17 */
    KX_METHOD(HRESULT, ReleaseToOwner)(KX_THIS) KX_PURE;                       /* 18 */
KX_END(IKXSample)

/* Picture parameters of a stream (StreamRecord offsets 416-455). */
typedef struct StreamVideoFormat {
    uint32_t width;            /* 416 */
    uint32_t height;           /* 420 */
    double frameRate;          /* 424 */
    uint32_t reserved1;        /* 432 */
    uint32_t aspectNumerator;  /* 436 */
    uint32_t aspectDenominator; /* 440 */
    uint32_t reserved2[3];     /* 444 */
} StreamVideoFormat;

/* Sound parameters of a stream (StreamRecord offsets 496-527). */
typedef struct StreamAudioFormat {
    uint32_t sampleRate;     /* 496 */
    uint32_t channels;       /* 500 */
    uint32_t bitsPerSample;  /* 504 */
    uint32_t bytesPerSecond; /* 508 */
    double duration;         /* 512: seconds */
    uint32_t reserved[2];    /* 520 */
} StreamAudioFormat;

/* What IStreamInfo shows about one stream (560 bytes); unfilled bytes are 0. */
typedef struct StreamRecord {
    uint32_t mediaType;          /* 0: 1 video, 2 audio, 0 not given */
    uint32_t streamTag;          /* 4: stream index | 0x4000 for audio | entry number << 16 */
    uint32_t codecId;            /* 8 */
    uint32_t streamIndex;        /* 12 */
    OLECHAR codecName[64];       /* 16 */
    OLECHAR description[128];    /* 144 */
    double duration;             /* 400: seconds */
    uint32_t bitRate;            /* 408 */
    uint32_t reserved1;          /* 412 */
    StreamVideoFormat video;     /* 416 */
    uint8_t reserved2[40];       /* 456 */
    StreamAudioFormat audio;     /* 496 */
    int64_t extraA;              /* 528 */
    int64_t extraB;              /* 536 */
    uint32_t sourceModeA;        /* 544 */
    uint32_t sourceModeB;        /* 548 */
    uint32_t sourceFlags;        /* 552 */
    uint32_t reserved3;          /* 556 */
} StreamRecord;

#ifdef __cplusplus
static_assert(sizeof(StreamVideoFormat) == 40, "StreamVideoFormat layout");
static_assert(sizeof(StreamAudioFormat) == 32, "StreamAudioFormat layout");
static_assert(sizeof(StreamRecord) == 560, "StreamRecord layout");
static_assert(offsetof(StreamRecord, streamTag) == 4, "StreamRecord layout");
static_assert(offsetof(StreamRecord, codecId) == 8, "StreamRecord layout");
static_assert(offsetof(StreamRecord, streamIndex) == 12, "StreamRecord layout");
static_assert(offsetof(StreamRecord, codecName) == 16, "StreamRecord layout");
static_assert(offsetof(StreamRecord, description) == 144, "StreamRecord layout");
static_assert(offsetof(StreamRecord, duration) == 400, "StreamRecord layout");
static_assert(offsetof(StreamRecord, bitRate) == 408, "StreamRecord layout");
static_assert(offsetof(StreamRecord, video) == 416, "StreamRecord layout");
static_assert(offsetof(StreamRecord, video.height) == 420, "StreamRecord layout");
static_assert(offsetof(StreamRecord, video.frameRate) == 424, "StreamRecord layout");
static_assert(offsetof(StreamRecord, video.aspectNumerator) == 436, "StreamRecord layout");
static_assert(offsetof(StreamRecord, video.aspectDenominator) == 440, "StreamRecord layout");
static_assert(offsetof(StreamRecord, audio) == 496, "StreamRecord layout");
static_assert(offsetof(StreamRecord, audio.channels) == 500, "StreamRecord layout");
static_assert(offsetof(StreamRecord, audio.bitsPerSample) == 504, "StreamRecord layout");
static_assert(offsetof(StreamRecord, audio.bytesPerSecond) == 508, "StreamRecord layout");
static_assert(offsetof(StreamRecord, audio.duration) == 512, "StreamRecord layout");
static_assert(offsetof(StreamRecord, extraA) == 528, "StreamRecord layout");
static_assert(offsetof(StreamRecord, extraB) == 536, "StreamRecord layout");
static_assert(offsetof(StreamRecord, sourceModeA) == 544, "StreamRecord layout");
static_assert(offsetof(StreamRecord, sourceModeB) == 548, "StreamRecord layout");
static_assert(offsetof(StreamRecord, sourceFlags) == 552, "StreamRecord layout");
#endif

/* One stream's description. */
#undef KX_SELF
#define KX_SELF IStreamInfo
KX_INTERFACE_(IStreamInfo, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                        /* 0-2 */
    KX_METHOD(uint32_t, GetMediaType)(KX_THIS) KX_PURE;                        /* 3: offset 0; 0 without a record */
    KX_METHOD(uint32_t, GetStreamTag)(KX_THIS) KX_PURE;                        /* 4: offset 4; 0 without a record */
    KX_METHOD(uint32_t, GetCodecId)(KX_THIS) KX_PURE;                          /* 5: offset 8; 0 without a record */
    KX_METHOD(uint32_t, GetStreamIndex)(KX_THIS) KX_PURE;                      /* 6: offset 12; 0xFFFFFFFF without a record */
    KX_METHOD(HRESULT, GetCodecName)(KX_THIS_ BSTR* name) KX_PURE;             /* 7: offset 16, a new BSTR */
    KX_METHOD(HRESULT, GetDescription)(KX_THIS_ BSTR* text) KX_PURE;           /* 8: offset 144, a new BSTR */
    KX_METHOD(double, GetDuration)(KX_THIS) KX_PURE;                           /* 9: seconds */
    KX_METHOD(uint32_t, GetBitRate)(KX_THIS) KX_PURE;                          /* 10 */
    KX_METHOD(StreamAudioFormat*, GetAudioFormat)(KX_THIS) KX_PURE;            /* 11: null without a record */
    KX_METHOD(StreamVideoFormat*, GetVideoFormat)(KX_THIS) KX_PURE;            /* 12: null without a record */
    KX_METHOD(int64_t, GetExtraA)(KX_THIS) KX_PURE;                            /* 13: offset 528 */
    KX_METHOD(int64_t, GetExtraB)(KX_THIS) KX_PURE;                            /* 14: offset 536 */
KX_END(IStreamInfo)

/* Where a stream's description comes from. */
#undef KX_SELF
#define KX_SELF IStreamInfoSrc
KX_INTERFACE_(IStreamInfoSrc, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                        /* 0-2 */
    KX_METHOD(int64_t*, GetTimeBlock)(KX_THIS) KX_PURE;                        /* 3: five values, or null */
    KX_METHOD(uint32_t, GetSourceModeA)(KX_THIS) KX_PURE;                      /* 4: offset 544; 2 without a record */
    KX_METHOD(uint32_t, GetSourceModeB)(KX_THIS) KX_PURE;                      /* 5: offset 548; 2 without a record */
    KX_METHOD(uint32_t, GetSourceFlags)(KX_THIS) KX_PURE;                      /* 6: offset 552; 0 without a record */
KX_END(IStreamInfoSrc)

/* A decoding reader of one stream (GetStream). */
#undef KX_SELF
#define KX_SELF IMediaStreamEx
KX_INTERFACE_(IMediaStreamEx, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                        /* 0-2 */
    KX_METHOD(HRESULT, GetStreamInfo)(KX_THIS_ IStreamInfo** info) KX_PURE;    /* 3: no reference added */
    KX_METHOD(int32_t, ReservedA)(KX_THIS) KX_PURE;                            /* 4: 0 */
    KX_METHOD(IUnknown*, GetSampleObject)(KX_THIS) KX_PURE;                    /* 5: ask it for IKXSample; no reference added */
    KX_METHOD(int32_t, ReadNextFrame)(KX_THIS) KX_PURE;                        /* 6: 1 when a new frame is in the sample */
    KX_METHOD(int32_t, ReservedB)(KX_THIS) KX_PURE;                            /* 7: 0 */
    KX_METHOD(double, SeekStream)(KX_THIS_ double seconds) KX_PURE;            /* 8 */
    KX_METHOD(int32_t, ReservedC)(KX_THIS) KX_PURE;                            /* 9: 1 */
    KX_METHOD(IUnknown*, GetCurrentSample)(KX_THIS) KX_PURE;                   /* 10: as slot 5 */
KX_END(IMediaStreamEx)

/* The media description of a file (GetFileMediaInfo): the object's own copy. */
#undef KX_SELF
#define KX_SELF ILossCopyMediaInfo
KX_INTERFACE_(ILossCopyMediaInfo, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                        /* 0-2 */
    KX_METHOD(FileMediaInfo*, GetInfo)(KX_THIS) KX_PURE;                       /* 3: valid while the object lives; null when none */
KX_END(ILossCopyMediaInfo)

/* The converter. Slot numbers in comments. */
#undef KX_SELF
#define KX_SELF IStreamwright
KX_INTERFACE_(IStreamwright, IUnknown) KX_BEGIN
    KX_IUNKNOWN_METHODS                                                                         /* 0-2 */
    KX_METHOD(int64_t, AddFile)(KX_THIS_ BSTR path) KX_PURE;                                    /* 3 */
    KX_METHOD(HRESULT, RemoveFile)(KX_THIS_ int64_t fileId) KX_PURE;                            /* 4 */
    KX_METHOD(HRESULT, Reset)(KX_THIS) KX_PURE;                                                 /* 5 */
    KX_METHOD(HRESULT, SetOutputPath)(KX_THIS_ BSTR path) KX_PURE;                              /* 6 */
    KX_METHOD(HRESULT, AddTimeClip)(KX_THIS_ int64_t fileId, const ClipRange* clip) KX_PURE;    /* 7 */
    KX_METHOD(HRESULT, RemoveClip)(KX_THIS_ int64_t fileId, int64_t clipIndex) KX_PURE;         /* 8 */
    KX_METHOD(HRESULT, GetTimeClip)(KX_THIS_ int64_t fileId, uint64_t clipIndex, ClipRange* out) KX_PURE; /* 9 */
    KX_METHOD(HRESULT, SetClip)(KX_THIS_ int64_t fileId, int64_t clipIndex, const ClipRange* clip) KX_PURE; /* 10 */
    KX_METHOD(HRESULT, AddSizeClip)(KX_THIS_ int64_t fileId, const ClipRange* clip) KX_PURE;    /* 11 */
    KX_METHOD(HRESULT, GetSizeClip)(KX_THIS_ int64_t fileId, uint64_t clipIndex, ClipRange* out) KX_PURE; /* 12 */
    KX_METHOD(int64_t, GetClipCount)(KX_THIS_ int64_t fileId) KX_PURE;                          /* 13 */
    KX_METHOD(HRESULT, SetCallback)(KX_THIS_ TaskCallback callback, void* context, int32_t which) KX_PURE; /* 14 */
    KX_METHOD(HRESULT, Start)(KX_THIS) KX_PURE;                                                 /* 15 */
    KX_METHOD(HRESULT, Pause)(KX_THIS) KX_PURE;                                                 /* 16 */
    KX_METHOD(HRESULT, Resume)(KX_THIS) KX_PURE;                                                /* 17 */
    KX_METHOD(HRESULT, Stop)(KX_THIS) KX_PURE;                                                  /* 18 */
    KX_METHOD(HRESULT, SetTaskType)(KX_THIS_ uint32_t taskType, int32_t taskOption) KX_PURE;    /* 19 */
    KX_METHOD(HRESULT, GetTaskType)(KX_THIS_ uint32_t* taskType, int32_t* taskOption) KX_PURE;  /* 20 */
    KX_METHOD(int64_t, GetOutputCount)(KX_THIS_ int64_t fileId) KX_PURE;                        /* 21 */
    KX_METHOD(HRESULT, GetOutputFileName)(KX_THIS_ int64_t fileId, int64_t outputIndex, BSTR* name) KX_PURE; /* 22 */
    KX_METHOD(uint32_t, WaitForCompletion)(KX_THIS_ uint32_t timeoutMs) KX_PURE;                /* 23 */
    KX_METHOD(IMerge_LossCopy_Check_Info*, CheckMerge)(KX_THIS) KX_PURE;                        /* 24 */
    KX_METHOD(HRESULT, GetFileKeyFrameIndex)(KX_THIS_ int64_t fileId, KeyFrameList** list) KX_PURE; /* 25 */
    KX_METHOD(ILossCopyMediaInfo*, GetFileMediaInfo)(KX_THIS_ int64_t fileId) KX_PURE;          /* 26 */
    KX_METHOD(HRESULT, OpenStream)(KX_THIS_ int64_t fileId, int32_t streamIndex, int32_t kind) KX_PURE; /* 27 */
    KX_METHOD(HRESULT, GetStream)(KX_THIS_ int64_t fileId, int32_t streamIndex, int32_t kind, IMediaStreamEx** stream) KX_PURE; /* 28 */
    KX_METHOD(HRESULT, StartDemuxers)(KX_THIS) KX_PURE;                                         /* 29 */
    KX_METHOD(HRESULT, PrepareTask)(KX_THIS) KX_PURE;                                           /* 30 */
    KX_METHOD(uint32_t, CheckFileSeekable)(KX_THIS_ int64_t fileId) KX_PURE;                    /* 31 */
    KX_METHOD(HRESULT, SetOutputExtension)(KX_THIS_ BSTR extension) KX_PURE;                    /* 32 */
    KX_METHOD(HRESULT, ReopenFiles)(KX_THIS) KX_PURE;                                           /* 33 */
    KX_METHOD(HRESULT, SwapClips)(KX_THIS_ int64_t fileId, int64_t clipA, int64_t clipB) KX_PURE; /* 34 */
    KX_METHOD(HRESULT, SwapFiles)(KX_THIS_ int64_t fileId, int64_t otherFileId) KX_PURE;        /* 35 */
    KX_METHOD(HRESULT, MoveFiles)(KX_THIS_ const int64_t* fileIds, int64_t count, int64_t position) KX_PURE; /* 36 */
    KX_METHOD(HRESULT, CancelKeyFrameIndex)(KX_THIS_ int64_t fileId) KX_PURE;                   /* 37 */
KX_END(IStreamwright)

#undef KX_SELF

/* ------------------------------------------------------------------------ */
/* Exported functions                                                        */
/* ------------------------------------------------------------------------ */

KX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

/* 1 when a stream of this codec identifier (28 = H.264) can be copied. */
KX_EXPORT int32_t IsCodecSupport(int32_t codecId);

/*
 * 1 when the capability table beside the library lets an output of this
 * extension (".mkv" or "mkv", any case) take a stream of the codec, else 0
 * (also for a null or empty extension and a missing table). The table lists
 * what each container stores without re-encoding; see the README.
 */
KX_EXPORT int32_t KX_IsCodecAllowedIn(const OLECHAR* extension, int32_t codecId);

KX_EXPORT BSTR SysAllocString(const OLECHAR* text);
KX_EXPORT void SysFreeString(BSTR text);
KX_EXPORT uint32_t SysStringLen(BSTR text);

/*
 * Log lines: without a sink they go to standard error. A host may set one
 * sink (null restores standard error); it is called with each line as UTF-16,
 * from whichever thread logs.
 */
typedef void (*KX_LogSink)(void* context, const OLECHAR* line);
KX_EXPORT void KX_SetLogSink(KX_LogSink sink, void* context);

/* Releases the array of a KeyFrameList filled by GetFileKeyFrameIndex. */
KX_EXPORT void KX_FreeKeyFrameList(KeyFrameList* list);

/*
 * The key frames of the file's first selected video stream next to `count`
 * times (100-ns ticks on the file's clock, as GetFileKeyFrameIndex gives
 * them): for each time the last key frame at or before it and the two after
 * it, and the file's first key frame; in time order without repeats,
 * appended to the host's list. Enough to place cuts at key frames without
 * indexing the whole file: in Matroska and MPEG-TS inputs they are found by
 * seeking near each time, and their keyFrameNumber and frameNumber are -1.
 * Other inputs, and those already read whole for their bit rates, get
 * their whole index, as GetFileKeyFrameIndex builds it (with its
 * notifications and its cancel). KX_S_FALSE without a video
 * stream or when no key frame is found; KX_E_FAIL during a task.
 */
KX_EXPORT HRESULT KX_GetKeyFramesNear(IStreamwright* converter, int64_t fileId, const int64_t* times, int32_t count,
                                      KeyFrameList* list);

/*
 * Outputs. Each output is written under a temporary name in its folder
 * (".<name>.partial-XXXXXX") and takes its own name only once its trailer is
 * written and it is closed, so a name never holds a partial file; Stop, Reset
 * and releasing the converter remove the temporary files of unfinished
 * outputs (a killed process leaves them, hidden, and no later task reads
 * them). A split creates each clip's file when the clip starts.
 *
 * By default (KX_OUTPUT_REPLACE) a finished output replaces a file of its
 * name, as it always has. Without that flag an output never replaces a file:
 * PrepareTask refuses a name that exists (a link included), and a file that
 * appears under the name while the task runs makes the task fail
 * (KX_E_FROM_ERRNO(EEXIST)) rather than be replaced. No output is ever
 * written through a link, and an output that is the same file as an input is
 * refused whatever the flags.
 */
enum {
    KX_OUTPUT_REPLACE = 1, /* an output may take the place of an existing file of its name */
    KX_OUTPUT_SYNC = 2     /* each output and its folder are synced to the disk when it is complete */
};
/* 1 when the output (split: the file's clip; merge, stream mix: index 0) was
 * finished and took its name in the converter's last task, else 0. Ask once
 * the task has ended (WaitForCompletion), before Reset; a host that cleans up
 * after a failure removes only these files, which are surely its own. */
KX_EXPORT int32_t KX_IsOutputComplete(IStreamwright* converter, int64_t fileId, int64_t outputIndex);

/* Sets the output flags of a converter made by this library (before
 * PrepareTask; KX_OUTPUT_REPLACE until a host sets them). KX_E_FAIL during a
 * task, KX_E_INVALIDARG for unknown flags. */
KX_EXPORT HRESULT KX_SetOutputOptions(IStreamwright* converter, uint32_t flags);

/*
 * The reason for the converter's last failure, for example "cannot write
 * /out/a_0_000.mp4: No space left on device", as a new BSTR that the caller
 * frees with SysFreeString; null when there is none. It covers failures of
 * the outputs: in PrepareTask (a name that exists, an input, a file that
 * cannot be created) and during the task (KX_NOTIFY_TASK_FAILED), inputs that
 * ended early (KX_E_INPUT_ENDED_EARLY, for example "cut.mp4 ended early, at
 * 5.013 s of 10.000 s: its index places media after the end of the file"),
 * and why AddFile or ReopenFiles refused a file ("cannot open list.mp4: it is
 * hls (Apple HTTP Live Streaming), a format that reads other files ...").
 * Cleared by PrepareTask; safe to call from any thread, the callback's
 * included.
 */
KX_EXPORT BSTR KX_GetLastErrorText(IStreamwright* converter);

/* How a split clip of the last task was cut with KX_TASK_OPTION_EXACT_FRAMES:
 * the video pictures encoded again and those copied, and whether it was cut
 * at key frames instead (fellBack 1; KX_GetClipCutReason says why). */
typedef struct KX_ClipCutReport {
    int64_t reencodedFrames;
    int64_t copiedFrames;
    int32_t fellBack;
    int32_t reserved;
} KX_ClipCutReport;
#ifdef __cplusplus
static_assert(sizeof(KX_ClipCutReport) == 24, "KX_ClipCutReport layout");
static_assert(offsetof(KX_ClipCutReport, copiedFrames) == 8, "KX_ClipCutReport layout");
static_assert(offsetof(KX_ClipCutReport, fellBack) == 16, "KX_ClipCutReport layout");
#endif
/* Fills *report for the file's clip (index as in AddTimeClip order). S_OK;
 * E_POINTER for a null converter or report; E_INVALIDARG for an unknown file
 * or clip; E_FAIL while a task runs. Ask once the task has ended. */
KX_EXPORT HRESULT KX_GetClipCutReport(IStreamwright* converter, int64_t fileId, int64_t clipIndex,
                                      KX_ClipCutReport* report);
/* Why the clip was cut at key frames, as a new BSTR the caller frees with
 * SysFreeString; null when it was not (or for an unknown file or clip). */
KX_EXPORT BSTR KX_GetClipCutReason(IStreamwright* converter, int64_t fileId, int64_t clipIndex);

/*
 * Inputs are read as local files under their exact names, never as URLs
 * ("http://...", "concat:..." are names of files). By default a converter
 * refuses formats that read other files named inside the input: HLS and DASH
 * playlists, concat scripts, image sequences, VobSub pairs, IMF and SDP.
 * KX_INPUT_ALLOW_LINKED_FILES lets files added after the call be such
 * formats; what they name is still read as local files only.
 * KX_INPUT_STORED_RATES_ONLY: the media information of files added after the
 * call gives only the bit rates their container stores. Where it stores none
 * (Matroska, MPEG-TS and others), the rate is 0 instead of being counted from
 * every packet, a read of the whole file that a host which shows no rates
 * can spare before a merge or a split by size. S_OK;
 * E_POINTER for a null converter; E_INVALIDARG for unknown bits; E_FAIL
 * while a task runs. The converter must come from this library.
 */
#define KX_INPUT_ALLOW_LINKED_FILES 0x1u
#define KX_INPUT_STORED_RATES_ONLY 0x2u
KX_EXPORT HRESULT KX_SetInputOptions(IStreamwright* converter, uint32_t options);

/*
 * Every stream of an added file, data and attachments included, as a copy
 * sees it. KX_GetStreamCount: the number of streams, -1 for an unknown file
 * or a converter not from this library. KX_GetStreamSummary: S_OK and the
 * record filled; S_FALSE for an unknown file or stream; E_POINTER for a null
 * record.
 */
enum {
    KX_DISPOSITION_DEFAULT = 0x1,
    KX_DISPOSITION_DUB = 0x2,
    KX_DISPOSITION_ORIGINAL = 0x4,
    KX_DISPOSITION_COMMENT = 0x8,
    KX_DISPOSITION_FORCED = 0x40,
    KX_DISPOSITION_HEARING_IMPAIRED = 0x80,
    KX_DISPOSITION_VISUAL_IMPAIRED = 0x100,
    KX_DISPOSITION_ATTACHED_PIC = 0x400 /* cover art: a picture, not a video */
};
typedef struct KX_StreamSummary {
    int32_t streamIndex;  /*   0 */
    int32_t kind;         /*   4: KX_STREAM_VIDEO, _AUDIO, _SUBTITLE; 0 for data and attachments */
    int32_t codecId;      /*   8: this component's numbering */
    uint32_t disposition; /*  12: KX_DISPOSITION_* bits */
    char codecName[32];   /*  16: the media library's name, e.g. "hevc" */
    char language[16];    /*  48: the language tag, e.g. "eng"; "" when untagged */
    OLECHAR title[128];   /*  64: the stream's title, cut to 127 characters; "" when none */
} KX_StreamSummary;
KX_EXPORT int32_t KX_GetStreamCount(IStreamwright* converter, int64_t fileId);
KX_EXPORT HRESULT KX_GetStreamSummary(IStreamwright* converter, int64_t fileId, int32_t streamIndex,
                                      KX_StreamSummary* summary);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(ClipRange) == 24, "ClipRange layout");
static_assert(sizeof(TaskCursor) == 16, "TaskCursor layout");
static_assert(sizeof(KeyFrameRecord) == 24, "KeyFrameRecord layout");
static_assert(offsetof(KeyFrameRecord, time) == 8, "KeyFrameRecord layout");
static_assert(offsetof(KeyFrameRecord, frameNumber) == 16, "KeyFrameRecord layout");
static_assert(sizeof(MergeGroupEntry) == 16, "MergeGroupEntry layout");
static_assert(sizeof(MediaStreamRecord) == 408, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, mediaType) == 0, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, streamIndex) == 4, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, streamId) == 8, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, codecId) == 12, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, codecName) == 16, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, duration) == 272, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, bitRate) == 280, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, width) == 288, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, height) == 292, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, frameRate) == 296, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, aspectNum) == 304, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, aspectDen) == 308, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, profile) == 324, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, level) == 328, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, maxBFrames) == 332, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, sampleRate) == 336, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, channels) == 340, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, bitsPerSample) == 344, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, bytesPerSecond) == 348, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, audioDuration) == 352, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, reserved368) == 368, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, reserved376) == 376, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, reserved384) == 384, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, extradataSize) == 388, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, extradata) == 392, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, displayWidth) == 400, "MediaStreamRecord layout");
static_assert(offsetof(MediaStreamRecord, displayHeight) == 404, "MediaStreamRecord layout");
static_assert(sizeof(ProgramInfo) == 56, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, number) == 0, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, duration) == 8, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, bitRate) == 16, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, videoCount) == 20, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, audioCount) == 24, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, subtitleCount) == 28, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, videos) == 32, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, audios) == 40, "ProgramInfo layout");
static_assert(offsetof(ProgramInfo, subtitles) == 48, "ProgramInfo layout");
static_assert(sizeof(KX_StreamSummary) == 320, "KX_StreamSummary layout");
static_assert(offsetof(KX_StreamSummary, codecName) == 16, "KX_StreamSummary layout");
static_assert(offsetof(KX_StreamSummary, language) == 48, "KX_StreamSummary layout");
static_assert(offsetof(KX_StreamSummary, title) == 64, "KX_StreamSummary layout");
static_assert(sizeof(FileMediaInfo) == 1056, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, path) == 0, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, duration) == 1024, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, totalBitRate) == 1032, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, programCount) == 1036, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, hasExtra) == 1040, "FileMediaInfo layout");
static_assert(offsetof(FileMediaInfo, programs) == 1048, "FileMediaInfo layout");
#endif

#endif /* KX_REMUXION_H */
