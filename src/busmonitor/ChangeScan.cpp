// SPDX-License-Identifier: MIT
#include "busmonitor/ChangeScan.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define WIRELOG_SCAN_SSE2 1
// AVX2 is chosen at run time where the compiler can ask the processor for it.
#if defined(__GNUC__) && !defined(_WIN32)
#define WIRELOG_SCAN_AVX2 1
#endif
#endif

namespace Wirelog {
namespace {

std::uint64_t Load(const unsigned char* p, unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) {
        value |= std::uint64_t{p[i]} << (8 * i);
    }
    return value;
}

std::uint64_t LoadWord(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

bool SameWord(const unsigned char* p, std::uint64_t same, std::uint64_t mask) {
    return ((LoadWord(p) ^ same) & mask) == 0;
}

// Four words tested together, then one by one up to the first that differs.
std::size_t CountSamePortable(const unsigned char* data, std::size_t words, std::uint64_t same,
                              std::uint64_t mask) {
    std::size_t word = 0;
    for (; word + 4 <= words; word += 4) {
        const unsigned char* p = data + word * 8;
        if ((((LoadWord(p) ^ same) | (LoadWord(p + 8) ^ same) | (LoadWord(p + 16) ^ same) |
              (LoadWord(p + 24) ^ same)) &
             mask) != 0) {
            break;
        }
    }
    while (word < words && SameWord(data + word * 8, same, mask)) {
        ++word;
    }
    return word;
}

#ifdef WIRELOG_SCAN_SSE2
// 64 bytes a round; the round that differs is left to the word-wise search.
std::size_t CountSameSse2(const unsigned char* data, std::size_t words, std::uint64_t same,
                          std::uint64_t mask) {
    const __m128i s = _mm_set1_epi64x(static_cast<long long>(same));
    const __m128i m = _mm_set1_epi64x(static_cast<long long>(mask));
    const auto differ = [&](const unsigned char* p) {
        return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), s);
    };
    std::size_t word = 0;
    for (; word + 8 <= words; word += 8) {
        const unsigned char* p = data + word * 8;
        const __m128i any =
            _mm_and_si128(_mm_or_si128(_mm_or_si128(differ(p), differ(p + 16)),
                                       _mm_or_si128(differ(p + 32), differ(p + 48))),
                          m);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) {
            break;
        }
    }
    return word + CountSamePortable(data + word * 8, words - word, same, mask);
}
#endif

#ifdef WIRELOG_SCAN_AVX2
__attribute__((target("avx2"))) __m256i Differ(const unsigned char* p, __m256i same) {
    return _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), same);
}

// 128 bytes a round.
__attribute__((target("avx2"))) std::size_t CountSameAvx2(const unsigned char* data,
                                                          std::size_t words, std::uint64_t same,
                                                          std::uint64_t mask) {
    const __m256i s = _mm256_set1_epi64x(static_cast<long long>(same));
    const __m256i m = _mm256_set1_epi64x(static_cast<long long>(mask));
    std::size_t word = 0;
    for (; word + 16 <= words; word += 16) {
        const unsigned char* p = data + word * 8;
        const __m256i any = _mm256_or_si256(_mm256_or_si256(Differ(p, s), Differ(p + 32, s)),
                                            _mm256_or_si256(Differ(p + 64, s), Differ(p + 96, s)));
        if (!_mm256_testz_si256(any, m)) {
            break;
        }
    }
    return word + CountSamePortable(data + word * 8, words - word, same, mask);
}
#endif

// `value` (of `Unit` bytes) in every sample slot of a 64-bit word.
template <unsigned Unit> std::uint64_t Replicate(std::uint64_t value) {
    for (unsigned shift = 8 * Unit; shift < 64; shift *= 2) {
        value |= value << shift;
    }
    return value;
}

} // namespace

std::size_t CountSameWords(const unsigned char* data, std::size_t words, std::uint64_t same,
                           std::uint64_t mask) {
    // A busy bus changes within a few words: those are found before any vector is loaded.
    constexpr std::size_t kNear = 4;
    std::size_t word = 0;
    while (word < words && word < kNear) {
        if (!SameWord(data + word * 8, same, mask)) {
            return word;
        }
        ++word;
    }
    data += word * 8;
    words -= word;
#ifdef WIRELOG_SCAN_AVX2
    if (__builtin_cpu_supports("avx2")) {
        return word + CountSameAvx2(data, words, same, mask);
    }
#endif
#ifdef WIRELOG_SCAN_SSE2
    return word + CountSameSse2(data, words, same, mask);
#else
    return word + CountSamePortable(data, words, same, mask);
#endif
}

ChangeScanner::ChangeScanner(unsigned unitSize, unsigned sclBit, unsigned sdaBit)
    : unit_(unitSize), sclMask_(std::uint64_t{1} << sclBit), sdaMask_(std::uint64_t{1} << sdaBit) {}

void ChangeScanner::Scan(const unsigned char* data, std::size_t samples, std::uint64_t first,
                         std::vector<BusLevels>& out) {
    if (first == 0 && samples != 0 && !resumed_) {
        previous_ = Load(data, unit_) & (sclMask_ | sdaMask_);
        out.push_back(Levels(0, previous_));
    }
    switch (unit_) {
    case 1:
        return ScanWords<1>(data, samples, first, out);
    case 2:
        return ScanWords<2>(data, samples, first, out);
    case 4:
        return ScanWords<4>(data, samples, first, out);
    case 8:
        return ScanWords<8>(data, samples, first, out);
    default:
        return ScanSamples(data, 0, samples, first, out);
    }
}

void ChangeScanner::Resume(const BusLevels& last) {
    previous_ = (last.scl ? sclMask_ : 0) | (last.sda ? sdaMask_ : 0);
    resumed_ = true;
}

// Eight bytes at a time: the stretch where every sample equals the last one (in the two bits)
// is skipped in one call, and only a word holding a change is taken apart.
template <unsigned Unit>
void ChangeScanner::ScanWords(const unsigned char* data, std::size_t samples, std::uint64_t first,
                              std::vector<BusLevels>& out) {
    constexpr unsigned kPerWord = 8 / Unit;
    const std::uint64_t mask = Replicate<Unit>(sclMask_ | sdaMask_);
    const std::size_t words = samples / kPerWord;
    for (std::size_t word = 0; word < words; ++word) {
        word += CountSameWords(data + word * 8, words - word, Replicate<Unit>(previous_), mask);
        if (word == words) {
            break;
        }
        TakeWord<Unit>(LoadWord(data + word * 8), first + word * kPerWord, out);
    }
    ScanSamples(data, words * kPerWord, samples, first, out);
}

// A word with a change is set against itself shifted by one sample: each sample that differs
// from the one before it shows as its own bits, found one by one.
template <unsigned Unit>
void ChangeScanner::TakeWord(std::uint64_t value, std::uint64_t number,
                             std::vector<BusLevels>& out) {
    constexpr unsigned kBits = 8 * Unit;
    const std::uint64_t bits = sclMask_ | sdaMask_;
    std::uint64_t before = previous_;
    if constexpr (Unit < 8) {
        before |= value << kBits;
    }
    std::uint64_t differ = (value ^ before) & Replicate<Unit>(bits);
    do {
        const unsigned shift = static_cast<unsigned>(std::countr_zero(differ)) / kBits * kBits;
        out.push_back(Levels(number + shift / kBits, (value >> shift) & bits));
        differ &= ~(bits << shift);
    } while (differ != 0);
    previous_ = (value >> (64 - kBits)) & bits;
}

void ChangeScanner::ScanSamples(const unsigned char* data, std::size_t from, std::size_t to,
                                std::uint64_t first, std::vector<BusLevels>& out) {
    for (std::size_t i = from; i < to; ++i) {
        const std::uint64_t sample = Load(data + i * unit_, unit_) & (sclMask_ | sdaMask_);
        if (sample != previous_) {
            previous_ = sample;
            out.push_back(Levels(first + i, sample));
        }
    }
}

} // namespace Wirelog
