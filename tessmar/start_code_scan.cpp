#include "tessmar/start_code_scan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSMAR_X86 1
#endif

namespace tessmar {

namespace {

// The rest byte by byte, three at a time where the third byte rules out the
// three positions before it.
const uint8_t* ScanBytes(const uint8_t* p, const uint8_t* end) {
  while (end - p >= 4) {
    if (p[2] > 1) {
      p += 3;
    } else if (p[2] == 1 && p[1] == 0 && p[0] == 0) {
      return p;
    } else {
      ++p;
    }
  }
  return nullptr;
}

#if defined(TESSMAR_X86)
// Candidate positions a vector at a time: bytes p[i], p[i + 1], p[i + 2]
// equal to 00, 00, 01, with the code byte p[i + 3] inside the range.
const uint8_t* ScanSse2(const uint8_t* p, const uint8_t* end) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  while (end - p >= 19) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    const __m128i hit = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)), _mm_cmpeq_epi8(c, one));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
  return ScanBytes(p, end);
}

__attribute__((target("avx2"))) const uint8_t* ScanAvx2(const uint8_t* p, const uint8_t* end) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  while (end - p >= 35) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    const __m256i hit =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a, zero), _mm256_cmpeq_epi8(b, zero)),
                         _mm256_cmpeq_epi8(c, one));
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(hit));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 32;
  }
  return ScanSse2(p, end);
}

using Scan = const uint8_t* (*)(const uint8_t*, const uint8_t*);
const Scan kScan = __builtin_cpu_supports("avx2") ? ScanAvx2 : ScanSse2;
#endif

}  // namespace

const uint8_t* FindStartCodePrefix(const uint8_t* begin, const uint8_t* end) {
#if defined(TESSMAR_X86)
  return kScan(begin, end);
#else
  return ScanBytes(begin, end);
#endif
}

}  // namespace tessmar
