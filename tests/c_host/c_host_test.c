/*
 * A host in plain C: loads the component with dlopen, reaches the converter
 * through DllGetClassObject and calls it by slot number only.
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <uchar.h>

typedef int32_t HRESULT;
typedef struct { uint32_t d1; uint16_t d2, d3; uint8_t d4[8]; } Guid;
typedef void (*Slot)(void); /* matches every slot type in a cast */
typedef struct { Slot* vtbl; } Object;

static const Guid kClsid = {0xB4BFC2EE, 0xD154, 0x4139, {0x99, 0x86, 0x07, 0xA6, 0xBC, 0xC5, 0xD3, 0xF5}};
static const Guid kIidUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const Guid kIidClassFactory = {1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const Guid kIidStreamwright = {0xFB138BF6, 0x5614, 0x4D3E, {0xA1, 0xD7, 0x33, 0x72, 0x09, 0x29, 0xD7, 0x7E}};

#define S_OK 0
#define S_NOTFOUND 1
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)

static int failures = 0;
#define CHECK(cond) do { if (!(cond)) { fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); ++failures; } } while (0)

/* Slot calls, typed by signature. */
typedef HRESULT (*QiFn)(Object*, const Guid*, void**);
typedef uint32_t (*RefFn)(Object*);
typedef HRESULT (*CreateFn)(Object*, void*, const Guid*, void**);
typedef HRESULT (*LockFn)(Object*, int32_t);
typedef HRESULT (*BstrFn)(Object*, char16_t*);
typedef HRESULT (*SetTaskTypeFn)(Object*, uint32_t, int32_t);
typedef HRESULT (*GetTaskTypeFn)(Object*, uint32_t*, int32_t*);
typedef int64_t (*IdFn)(Object*, int64_t);
typedef HRESULT (*VoidFn)(Object*);
typedef HRESULT (*CallbackFn)(Object*, void*, void*, int32_t);
typedef HRESULT (*OutNameFn)(Object*, int64_t, int64_t, char16_t**);
typedef int64_t (*AddFileFn)(Object*, char16_t*);
typedef HRESULT (*ClipFn)(Object*, int64_t, const int64_t*);
typedef HRESULT (*GetClipFn)(Object*, int64_t, uint64_t, int64_t*);
typedef uint32_t (*WaitFn)(Object*, uint32_t);

#define SLOT(obj, n, type) ((type)(obj)->vtbl[n])

typedef HRESULT (*GetClassObjectFn)(const Guid*, const Guid*, void**);
typedef char16_t* (*AllocFn)(const char16_t*);
typedef void (*FreeFn)(char16_t*);
typedef uint32_t (*LenFn)(char16_t*);

static int notified = 0;
static int32_t OnNotify(void* ctx, int32_t code, void* cursor, int32_t value) { ++notified; return 0; }

int main(int argc, char** argv) {
    if (argc < 2) { fprintf(stderr, "usage: c_host_test LIBRARY\n"); return 2; }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) { fprintf(stderr, "dlopen: %s\n", dlerror()); return 1; }
    GetClassObjectFn getClassObject = (GetClassObjectFn)dlsym(lib, "DllGetClassObject");
    AllocFn sysAlloc = (AllocFn)dlsym(lib, "SysAllocString");
    FreeFn sysFree = (FreeFn)dlsym(lib, "SysFreeString");
    LenFn sysLen = (LenFn)dlsym(lib, "SysStringLen");
    CHECK(getClassObject && sysAlloc && sysFree && sysLen && dlsym(lib, "IsCodecSupport"));
    if (!getClassObject || !sysAlloc || !sysFree || !sysLen) return 1;

    /* BSTR round trip. */
    char16_t* hello = sysAlloc(u"héllo");
    CHECK(sysLen(hello) == 5);
    CHECK(((uint32_t*)hello)[-1] == 10);
    sysFree(hello);
    CHECK(sysLen(NULL) == 0);
    sysFree(NULL);

    /* Class entry statuses. */
    Object* factory = NULL;
    Guid other = kClsid;
    other.d1 ^= 1;
    CHECK(getClassObject(&kClsid, &kIidStreamwright, (void**)&factory) == E_NOINTERFACE);
    CHECK(getClassObject(&other, &kIidClassFactory, (void**)&factory) == CLASS_E_CLASSNOTAVAILABLE);
    CHECK(getClassObject(&kClsid, NULL, (void**)&factory) == E_NOINTERFACE);
    CHECK(getClassObject(&kClsid, &kIidClassFactory, (void**)&factory) == S_OK && factory);
    if (!factory) return 1;
    CHECK(SLOT(factory, 4, LockFn)(factory, 1) == S_OK);
    CHECK(SLOT(factory, 4, LockFn)(factory, 0) == S_OK);

    Object* converter = NULL;
    Object* outer = factory; /* any non-null outer */
    CHECK(SLOT(factory, 3, CreateFn)(factory, outer, &kIidStreamwright, (void**)&converter) == CLASS_E_NOAGGREGATION);
    CHECK(SLOT(factory, 3, CreateFn)(factory, NULL, &kIidClassFactory, (void**)&converter) == E_NOINTERFACE);
    CHECK(converter == NULL);
    Object* unknown = NULL;
    CHECK(SLOT(factory, 3, CreateFn)(factory, outer, &kIidUnknown, (void**)&unknown) == S_OK && unknown);
    if (unknown) CHECK(SLOT(unknown, 2, RefFn)(unknown) == 0);
    CHECK(SLOT(factory, 3, CreateFn)(factory, NULL, &kIidStreamwright, (void**)&converter) == S_OK && converter);
    CHECK(SLOT(factory, 2, RefFn)(factory) == 0);
    if (!converter) return 1;

    /* IUnknown slots. */
    CHECK(SLOT(converter, 1, RefFn)(converter) == 2);
    CHECK(SLOT(converter, 2, RefFn)(converter) == 1);
    Object* again = NULL;
    CHECK(SLOT(converter, 0, QiFn)(converter, &kIidClassFactory, (void**)&again) == E_NOINTERFACE && again == NULL);
    CHECK(SLOT(converter, 0, QiFn)(converter, &kIidStreamwright, NULL) == E_POINTER);
    CHECK(SLOT(converter, 0, QiFn)(converter, &kIidStreamwright, (void**)&again) == S_OK && again == converter);
    if (again) SLOT(again, 2, RefFn)(again);

    /* A new object: split, option -1, no output path, no files. */
    uint32_t type = 99;
    int32_t option = 99;
    CHECK(SLOT(converter, 20, GetTaskTypeFn)(converter, &type, &option) == S_OK && type == 0 && option == -1);
    CHECK(SLOT(converter, 20, GetTaskTypeFn)(converter, NULL, NULL) == S_OK);
    CHECK(SLOT(converter, 21, IdFn)(converter, 0) == 0);
    CHECK(SLOT(converter, 15, VoidFn)(converter) == E_FAIL); /* Start without output path */

    /* Output path and extension. */
    char16_t* path = sysAlloc(u"/tmp/out");
    CHECK(SLOT(converter, 6, BstrFn)(converter, path) == S_OK);
    CHECK(SLOT(converter, 6, BstrFn)(converter, NULL) == E_POINTER);
    CHECK(SLOT(converter, 15, VoidFn)(converter) == E_FAIL); /* the null path removed the old one */
    CHECK(SLOT(converter, 6, BstrFn)(converter, path) == S_OK);
    char16_t* ext = sysAlloc(u".mov");
    CHECK(SLOT(converter, 32, BstrFn)(converter, ext) == S_OK);
    CHECK(SLOT(converter, 32, BstrFn)(converter, NULL) == E_POINTER);

    /* Task type and output names. */
    CHECK(SLOT(converter, 19, SetTaskTypeFn)(converter, 1, 0) == S_OK);
    CHECK(SLOT(converter, 20, GetTaskTypeFn)(converter, &type, &option) == S_OK && type == 1 && option == 0);
    CHECK(SLOT(converter, 21, IdFn)(converter, 12345) == 1);
    char16_t* name = (char16_t*)1;
    CHECK(SLOT(converter, 22, OutNameFn)(converter, 0, 0, &name) == S_OK && name);
    if (name) {
        CHECK(sysLen(name) == 8 && memcmp(name, u"/tmp/out", 16) == 0);
        sysFree(name);
    }
    CHECK(SLOT(converter, 22, OutNameFn)(converter, 0, 1, &name) == E_INVALIDARG && name == NULL);
    CHECK(SLOT(converter, 22, OutNameFn)(converter, 0, 0, NULL) == E_POINTER);
    CHECK(SLOT(converter, 19, SetTaskTypeFn)(converter, 5, -1) == S_OK);
    CHECK(SLOT(converter, 21, IdFn)(converter, 0) == 0);
    CHECK(SLOT(converter, 22, OutNameFn)(converter, 0, 0, &name) == E_INVALIDARG);

    /* Callbacks: which 0 and 1 are stored, anything else ignored. */
    CHECK(SLOT(converter, 14, CallbackFn)(converter, (void*)OnNotify, NULL, 0) == S_OK);
    CHECK(SLOT(converter, 14, CallbackFn)(converter, (void*)OnNotify, NULL, 1) == S_OK);
    CHECK(SLOT(converter, 14, CallbackFn)(converter, NULL, NULL, 2) == S_OK);

    /* Unknown file ids and bad arguments. */
    int64_t clip[3] = {0, 10000000, 0};
    int64_t bad[3] = {0, -1, 0};
    int64_t out[3];
    CHECK(SLOT(converter, 3, AddFileFn)(converter, NULL) == (int64_t)E_POINTER);
    CHECK(SLOT(converter, 4, IdFn)(converter, 424242) == S_NOTFOUND);
    CHECK(SLOT(converter, 7, ClipFn)(converter, 424242, clip) == S_NOTFOUND);
    CHECK(SLOT(converter, 7, ClipFn)(converter, 424242, bad) == E_INVALIDARG);
    int64_t badSize[3] = {-1, 5, 0};
    CHECK(SLOT(converter, 11, ClipFn)(converter, 424242, clip) == S_NOTFOUND);
    CHECK(SLOT(converter, 11, ClipFn)(converter, 424242, badSize) == E_INVALIDARG);
    CHECK(SLOT(converter, 9, GetClipFn)(converter, 424242, 0, out) == S_NOTFOUND);
    CHECK(SLOT(converter, 9, GetClipFn)(converter, 424242, 0, NULL) == S_NOTFOUND);
    CHECK(SLOT(converter, 13, IdFn)(converter, 424242) == (int64_t)E_INVALIDARG);
    CHECK(SLOT(converter, 16, VoidFn)(converter) == E_FAIL); /* Pause when not busy */
    CHECK(SLOT(converter, 17, VoidFn)(converter) == E_FAIL);
    CHECK(SLOT(converter, 18, VoidFn)(converter) == E_FAIL);
    CHECK(SLOT(converter, 23, WaitFn)(converter, 0) == 0);
    CHECK(SLOT(converter, 5, VoidFn)(converter) == S_OK);

    sysFree(path);
    sysFree(ext);
    CHECK(SLOT(converter, 2, RefFn)(converter) == 0);
    (void)notified;
    if (failures) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("c host: all checks passed\n");
    return 0;
}
