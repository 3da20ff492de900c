#include "input/StartCodeSearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kx {

namespace {

// The byte-by-byte walk for what the vector searches leave.
int FindZeroZeroOneFrom(const uint8_t* d, int z, int limit) {
    for (int q = z + 2; q <= limit; ++q)
        if (d[q] == 1 && d[q - 1] == 0 && d[q - 2] == 0) return q;
    return -1;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KX_HAVE_AVX2_SEARCH 1
// 32 possible pair beginnings per step: the block and the block one byte on
// are compared with zero together, so a set bit is a pair 00 00 and only its
// third byte remains to be looked at. Slices are most of every packet and
// this walk reads all of them, so it gets the widest vectors the CPU has.
__attribute__((target("avx2"))) int FindZeroZeroOneAvx2(const uint8_t* d, int from, int limit) {
    int z = from;  // where a zero pair may begin
    const __m256i zero = _mm256_setzero_si256();
    for (; z + 33 <= limit; z += 32) {  // pairs begin at z .. z + 31, their 01 at most at z + 33
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + z));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + z + 1));
        const __m256i pairs = _mm256_and_si256(_mm256_cmpeq_epi8(here, zero), _mm256_cmpeq_epi8(next, zero));
        for (auto bits = static_cast<unsigned>(_mm256_movemask_epi8(pairs)); bits != 0; bits &= bits - 1) {
            const int q = z + __builtin_ctz(bits) + 2;
            if (d[q] == 1) return q;
        }
    }
    return FindZeroZeroOneFrom(d, z, limit);
}

bool CpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// The 01 byte of the first 00 00 01 whose 01 lies in [from + 2, limit], or -1.
// Two zeros in a row are rare inside coded slices (emulation prevention
// breaks them up), so blocks of bytes are tested for zero pairs at once; a
// byte-by-byte walk does the rest.
int FindZeroZeroOne(const uint8_t* d, int from, int limit) {
#if defined(KX_HAVE_AVX2_SEARCH)
    if (CpuHasAvx2()) return FindZeroZeroOneAvx2(d, from, limit);
#endif
    int z = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; z + 16 <= limit; z += 15) {  // pairs begin at z .. z + 14, their 01 at most at z + 16
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + z));
        const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)));
        for (unsigned pairs = zeros & (zeros >> 1); pairs != 0; pairs &= pairs - 1) {
            const int q = z + __builtin_ctz(pairs) + 2;
            if (d[q] == 1) return q;
        }
    }
#endif
    return FindZeroZeroOneFrom(d, z, limit);
}

}  // namespace

int NextNalUnit(const uint8_t* d, int size, int from) {
    const int last = size - 5;  // last position a start code may begin at
    const int q = FindZeroZeroOne(d, from, last + 3);
    if (q < 0) return -1;
    const int begin = (q - 3 >= from && d[q - 3] == 0) ? q - 3 : q - 2;
    return begin <= last ? q + 1 : -1;
}

}  // namespace kx
