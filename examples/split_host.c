/*
 * split_host: a host of libKX_Remuxion in plain C. It cuts a media file into
 * clips of a few seconds each, without re-encoding.
 *
 *   split_host FILE FOLDER [SECONDS]
 *
 * The road every host takes: the converter from the class factory; the file
 * and its streams; the clips; the task; the outputs; start and wait.
 */
#include <KX_Remuxion.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define TICKS_PER_SECOND 10000000LL

/* UTF-8 -> a BSTR of the component (UTF-16). */
static BSTR ToBstr(const char* text) {
    size_t n = 0, i = 0;
    OLECHAR* wide = malloc((strlen(text) + 1) * sizeof *wide);
    if (!wide) return NULL;
    while (text[i]) {
        unsigned char c = (unsigned char)text[i];
        unsigned long code = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) code = c & (0x3F >> extra);
        for (++i; extra > 0 && (text[i] & 0xC0) == 0x80; --extra, ++i) code = (code << 6) | (text[i] & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            wide[n++] = (OLECHAR)(0xD800 + (code >> 10));
            wide[n++] = (OLECHAR)(0xDC00 + (code & 0x3FF));
        } else {
            wide[n++] = (OLECHAR)code;
        }
    }
    wide[n] = 0;
    BSTR result = SysAllocString(wide);
    free(wide);
    return result;
}

/* Prints a BSTR (ASCII only, for brevity). */
static void PrintBstr(const char* before, BSTR text) {
    printf("%s", before);
    for (uint32_t i = 0; i < SysStringLen(text); ++i) putchar(text[i] < 128 ? (char)text[i] : '?');
    putchar('\n');
}

/* Notifications arrive on the converter's worker thread. */
static int32_t OnNotify(void* context, int32_t code, TaskCursor* cursor, int32_t value) {
    (void)context;
    (void)value;
    if (code == KX_NOTIFY_CLIP_END && cursor) printf("clip %lld done\n", (long long)cursor->clipIndex);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: split_host FILE FOLDER [SECONDS]\n");
        return 2;
    }
    double seconds = argc > 3 ? atof(argv[3]) : 5.0;
    if (seconds <= 0) seconds = 5.0;

    IClassFactory* factory = NULL;
    IStreamwright* converter = NULL;
    if (DllGetClassObject(&CLSID_Streamwright, &IID_IClassFactory, (void**)&factory) != KX_S_OK) return 1;
    factory->lpVtbl->CreateInstance(factory, NULL, &IID_IStreamwright, (void**)&converter);
    factory->lpVtbl->Release(factory);
    if (!converter) return 1;
    IStreamwright* c = converter;
    const IStreamwrightVtbl* call = c->lpVtbl;
    int status = 1;

    BSTR path = ToBstr(argv[1]);
    int64_t file = call->AddFile(c, path);
    SysFreeString(path);
    if (file < 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        goto done;
    }

    /* The duration and the first video and audio stream, from the media information. */
    ILossCopyMediaInfo* media = call->GetFileMediaInfo(c, file);
    const FileMediaInfo* info = media ? media->lpVtbl->GetInfo(media) : NULL;
    double duration = info ? info->duration : 0;
    int video = -1, audio = -1;
    for (uint32_t p = 0; info && p < info->programCount; ++p) {
        const ProgramInfo* program = &info->programs[p];
        if (video < 0 && program->videoCount > 0) video = (int)program->videos[0].streamIndex;
        if (audio < 0 && program->audioCount > 0) audio = (int)program->audios[0].streamIndex;
    }
    if (media) media->lpVtbl->Release(media);
    if (video < 0 || duration <= 0) {
        fprintf(stderr, "%s has no video stream or no duration\n", argv[1]);
        goto done;
    }
    call->OpenStream(c, file, video, KX_STREAM_VIDEO);
    if (audio >= 0) call->OpenStream(c, file, audio, KX_STREAM_AUDIO);
    call->StartDemuxers(c); /* the readers start before the task is prepared */

    /* Clips of the given length; the last one runs to the end of the file. */
    for (double start = 0; start < duration; start += seconds) {
        int last = start + seconds >= duration;
        ClipRange clip = {(int64_t)(start * TICKS_PER_SECOND),
                          (int64_t)((last ? duration - start + 1 : seconds) * TICKS_PER_SECOND), 0};
        call->AddTimeClip(c, file, &clip);
    }

    BSTR folder = ToBstr(argv[2]);
    call->SetTaskType(c, KX_TASK_SPLIT, -1); /* -1: clips start at key frames */
    call->SetOutputPath(c, folder);
    SysFreeString(folder);
    call->SetCallback(c, OnNotify, NULL, 0);

    int64_t outputs = call->GetOutputCount(c, file); /* before PrepareTask: it bounds the names */
    if (call->PrepareTask(c) != KX_S_OK) {
        fprintf(stderr, "the outputs cannot be prepared (see the log on standard error)\n");
        call->Reset(c); /* removes outputs that were opened */
        goto done;
    }
    if (call->Start(c) != KX_S_OK) goto done;
    call->WaitForCompletion(c, KX_INFINITE);

    for (int64_t i = 0; i < outputs; ++i) {
        BSTR name = NULL;
        if (call->GetOutputFileName(c, file, i, &name) == KX_S_OK) PrintBstr("wrote ", name);
        SysFreeString(name);
    }
    status = 0;
done:
    call->Release(c);
    return status;
}
