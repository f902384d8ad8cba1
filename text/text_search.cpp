#include "text/text_search.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvora::search {

namespace {

constexpr std::size_t kBlock = 16;

inline unsigned char lower(unsigned char c)
{
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<unsigned char>(c | 0x20) : c;
}

inline bool isLowerLetter(unsigned char c)
{
    return c >= 'a' && c <= 'z';
}

// A pattern byte matches a text byte exactly, or, for a letter searched
// without case, with bit 0x20 forced on: for a lower-case letter L, (b | 0x20)
// equals L only for b = L and b = L - 0x20, its upper case.
struct ByteTest {
    unsigned char value;
    unsigned char fold;   // 0x20 for a letter searched without case, else 0

    bool matches(unsigned char c) const { return (c | fold) == value; }
};

template <bool Fold>
ByteTest byteTest(unsigned char patternByte)
{
    return {patternByte, static_cast<unsigned char>(Fold && isLowerLetter(patternByte) ? 0x20 : 0)};
}

template <bool Fold>
bool middleMatches(const unsigned char *at, std::string_view pattern)
{
    // First and last bytes are already known to fit.
    if (pattern.size() <= 2)
        return true;
    const auto *p = reinterpret_cast<const unsigned char *>(pattern.data());
    if constexpr (!Fold) {
        return std::memcmp(at + 1, p + 1, pattern.size() - 2) == 0;
    } else {
        for (std::size_t j = 1; j + 1 < pattern.size(); ++j) {
            if (lower(at[j]) != p[j])
                return false;
        }
        return true;
    }
}

template <bool Fold>
std::size_t find(std::string_view textView, std::string_view pattern, std::size_t from)
{
    const std::size_t m = pattern.size();
    const std::size_t n = textView.size();
    if (m == 0 || from > n || n - from < m)
        return std::string_view::npos;
    const auto *text = reinterpret_cast<const unsigned char *>(textView.data());
    const ByteTest first = byteTest<Fold>(static_cast<unsigned char>(pattern.front()));
    const ByteTest last = byteTest<Fold>(static_cast<unsigned char>(pattern.back()));

    // A single byte without case is what memchr is made for.
    if (m == 1 && first.fold == 0) {
        const void *hit = std::memchr(text + from, first.value, n - from);
        return hit ? static_cast<const unsigned char *>(hit) - text : std::string_view::npos;
    }

    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i firstValue = _mm_set1_epi8(static_cast<char>(first.value));
    const __m128i firstFold = _mm_set1_epi8(static_cast<char>(first.fold));
    const __m128i lastValue = _mm_set1_epi8(static_cast<char>(last.value));
    const __m128i lastFold = _mm_set1_epi8(static_cast<char>(last.fold));
    // Both loads of a block stay inside the text: i + m - 1 + 16 <= n.
    for (; i + m - 1 + kBlock <= n; i += kBlock) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + m - 1));
        const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(head, firstFold), firstValue),
                                           _mm_cmpeq_epi8(_mm_or_si128(tail, lastFold), lastValue));
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(both));
        while (candidates != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(candidates));
            if (middleMatches<Fold>(text + at, pattern))
                return at;
            candidates &= candidates - 1;
        }
    }
#endif
    for (; i + m <= n; ++i) {
        if (first.matches(text[i]) && last.matches(text[i + m - 1]) && middleMatches<Fold>(text + i, pattern))
            return i;
    }
    return std::string_view::npos;
}

} // namespace

std::size_t FindExact(std::string_view text, std::string_view pattern, std::size_t from)
{
    return find<false>(text, pattern, from);
}

std::size_t FindFolded(std::string_view text, std::string_view foldedPattern, std::size_t from)
{
    return find<true>(text, foldedPattern, from);
}

void LowerCaseInPlace(char *data, std::size_t size)
{
    auto *bytes = reinterpret_cast<unsigned char *>(data);
    std::size_t i = 0;
#if defined(__SSE2__)
    // Signed compares: bytes above 0x7F are negative and never count as A..Z.
    const __m128i belowA = _mm_set1_epi8('A' - 1);
    const __m128i aboveZ = _mm_set1_epi8('Z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (; i + kBlock <= size; i += kBlock) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(block, belowA), _mm_cmplt_epi8(block, aboveZ));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + i),
                         _mm_or_si128(block, _mm_and_si128(upper, caseBit)));
    }
#endif
    for (; i < size; ++i)
        bytes[i] = lower(bytes[i]);
}

} // namespace kelvora::search
