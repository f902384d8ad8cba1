#include "web/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace kelvora {

namespace {

constexpr std::array<unsigned char, 256> makeLowerTable()
{
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}

constexpr std::array<unsigned char, 256> kLower = makeLowerTable();

inline unsigned char lower(char c)
{
    return kLower[static_cast<unsigned char>(c)];
}

bool hasAsciiLetter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const unsigned char folded = lower(c);
        return folded >= 'a' && folded <= 'z';
    });
}

// Patterns up to this length are matched with a full automaton (one table row
// of 256 entries per pattern character); longer ones fall back to comparing
// the output's tail, which no caller needs but stays correct.
constexpr std::size_t kMaxAutomatonPattern = 1024;

// Finds the pattern at the end of the text pushed so far. Each pushed byte
// records the automaton state after it, so dropping bytes restores the state
// exactly and the whole replacement stays linear.
class AutomatonMatcher {
public:
    explicit AutomatonMatcher(const std::string &pattern)
        : m_length(pattern.size()), m_table((m_length + 1) * 256, 0)
    {
        // Knuth-Morris-Pratt automaton: row j is the state after j matched bytes.
        m_table[static_cast<unsigned char>(pattern[0])] = 1;
        std::size_t fallback = 0;
        for (std::size_t j = 1; j < m_length; ++j) {
            const unsigned char next = static_cast<unsigned char>(pattern[j]);
            std::copy_n(&m_table[fallback * 256], 256, &m_table[j * 256]);
            m_table[j * 256 + next] = static_cast<std::uint16_t>(j + 1);
            fallback = m_table[fallback * 256 + next];
        }
    }

    void reserve(std::size_t size) { m_states.reserve(size); }

    bool push(unsigned char folded)
    {
        const std::uint16_t current = m_states.empty() ? 0 : m_states.back();
        const std::uint16_t next = m_table[current * 256u + folded];
        m_states.push_back(next);
        return next == m_length;
    }

    void drop(std::size_t count) { m_states.resize(m_states.size() - count); }

private:
    std::size_t m_length;
    std::vector<std::uint16_t> m_table;
    std::vector<std::uint16_t> m_states;
};

class TailMatcher {
public:
    explicit TailMatcher(const std::string &pattern) : m_pattern(pattern) {}

    void reserve(std::size_t size) { m_folded.reserve(size); }

    bool push(unsigned char folded)
    {
        m_folded.push_back(static_cast<char>(folded));
        const std::size_t m = m_pattern.size();
        return folded == static_cast<unsigned char>(m_pattern.back()) && m_folded.size() >= m
            && std::memcmp(m_folded.data() + m_folded.size() - m, m_pattern.data(), m) == 0;
    }

    void drop(std::size_t count) { m_folded.resize(m_folded.size() - count); }

private:
    const std::string &m_pattern;
    std::string m_folded;
};

// A replacement that does not contain the pattern can still rebuild it with
// its neighbours again and again ("ab" -> "bba" doubles the b's each time an
// a passes them, so a^40 b would grow to 2^40 bytes). No caller passes such a
// pair; should one occur, the work is cut off and the text returned
// unchanged, rather than the call exhausting time and memory. The bound lies
// far above what the callers' pairs need (at most one replacement per byte).
constexpr std::size_t kReplaceWorkSlack = 16u << 20;
constexpr std::size_t kReplaceWorkFactor = 4;

// Reads the text left to right into the output. Whenever the output ends with
// the pattern, that occurrence is the leftmost one of the whole current text
// (all occurrences have the same length, so the leftmost ends first), so it is
// cut off and the replacement is read next, ahead of the rest of the input:
// exactly what restarting the search from the first character would find.
template <typename Matcher>
std::string replaceAll(std::string_view text, std::size_t patternLength, std::string_view replacement,
                       Matcher matcher)
{
    std::string out;
    out.reserve(text.size());
    matcher.reserve(text.size());
    // Replacements still being read, innermost last: the offset reached in each.
    std::vector<std::size_t> pending;
    std::size_t input = 0;
    const std::size_t budget = kReplaceWorkSlack + kReplaceWorkFactor * (text.size() + 1) * (replacement.size() + 1);
    for (std::size_t work = 0;; ++work) {
        if (work == budget)
            return std::string(text);
        char c;
        if (!pending.empty()) {
            c = replacement[pending.back()++];
            if (pending.back() == replacement.size())
                pending.pop_back();
        } else if (input < text.size()) {
            c = text[input++];
        } else {
            break;
        }
        out.push_back(c);
        if (matcher.push(lower(c))) {
            out.resize(out.size() - patternLength);
            matcher.drop(patternLength);
            if (!replacement.empty())
                pending.push_back(0);
        }
    }
    return out;
}

} // namespace

std::size_t Pos(std::string_view pattern, std::string_view text)
{
    if (pattern.empty() || text.empty())
        return 0;
    const std::size_t found = text.find(pattern);
    return found == std::string_view::npos ? 0 : found + 1;
}

std::string Copy(std::string_view text, long long index, long long count)
{
    if (index < 1)
        index = 1;
    const auto length = static_cast<long long>(text.size());
    if (text.empty() || index > length || count < 0)
        return {};
    const long long available = length - index + 1;
    return std::string(text.substr(static_cast<std::size_t>(index - 1),
                                   static_cast<std::size_t>(std::min(count, available))));
}

std::string CopyFrom(std::string_view text, long long index)
{
    return Copy(text, index, static_cast<long long>(text.size()));
}

std::string LowerCase(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(lower(c));
    return text;
}

bool Contains(std::string_view text, std::string_view pattern)
{
    return Pos(pattern, text) > 0;
}

std::string ReplaceAllIgnoreCase(std::string text, std::string_view pattern, std::string_view replacement)
{
    if (pattern.empty() || text.empty())
        return text;
    const std::string folded = LowerCase(std::string(pattern));

    // Most calls find nothing: leave the text untouched then, without a copy
    // when the pattern has no letters to fold.
    const bool found = hasAsciiLetter(folded) ? LowerCase(text).find(folded) != std::string::npos
                                              : text.find(folded) != std::string::npos;
    if (!found)
        return text;

    if (folded.size() <= kMaxAutomatonPattern)
        return replaceAll(text, folded.size(), replacement, AutomatonMatcher(folded));
    return replaceAll(text, folded.size(), replacement, TailMatcher(folded));
}

std::string StripNumberPunctuation(std::string text)
{
    // Deleting each first occurrence until none is left removes every one.
    std::erase_if(text, [](char c) { return c == ',' || c == '.' || c == ' '; });
    return text;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The three helpers below pass copies to each step, so that the text as far
// as it was processed survives when a step runs out of memory.
std::string CleanResultHost(std::string text)
{
    std::string t;
    try {
        t = LowerCase(std::move(text));
        for (const char *piece : {"</i", "</b", "</", "<", ">"})
            t = ReplaceAllIgnoreCase(t, piece, "");
    } catch (const std::bad_alloc &) {
        return t;
    }
    try {
        const std::size_t slash = Pos("/", t);
        if (slash > 0)
            t = Copy(t, 1, static_cast<long long>(slash) - 1);
    } catch (const std::bad_alloc &) {
    }
    return t;
}

std::string StripScheme(std::string text)
{
    std::string t;
    try {
        t = LowerCase(std::move(text));
        t = ReplaceAllIgnoreCase(t, "http://", "");
        t = ReplaceAllIgnoreCase(t, "https://", "");
    } catch (const std::bad_alloc &) {
    }
    return t;
}

std::string BareHost(std::string text)
{
    std::string t = StripScheme(std::move(text));
    try {
        t = ReplaceAllIgnoreCase(t, "www.", "");
        t = ReplaceAllIgnoreCase(t, "http://", "");
    } catch (const std::bad_alloc &) {
    }
    return t;
}

} // namespace kelvora
