#include "text/text.h"

#include "text/text_search.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
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
    return std::any_of(text.begin(), text.end(), [](char c) { return IsAsciiLetter(c); });
}

// The leftmost occurrence at or after from of a pattern already lower-cased;
// a pattern without letters is a plain byte search.
std::size_t findFolded(std::string_view text, std::string_view folded, bool hasLetter, std::size_t from)
{
    return hasLetter ? search::FindFolded(text, folded, from) : search::FindExact(text, folded, from);
}

// A replacement that does not contain the pattern can still rebuild it with
// its neighbours again and again ("ab" -> "bba" doubles the b's each time an
// a passes them, so a^40 b would grow to 2^40 bytes). No caller passes such a
// pair; should one occur, the work is cut off and the text returned
// unchanged, rather than the call exhausting time and memory. The bound lies
// far above what the callers' pairs need (at most one replacement per byte).
constexpr std::size_t kReplaceWorkSlack = 16u << 20;
constexpr std::size_t kReplaceWorkFactor = 4;

// Patterns up to this length are matched with a full automaton (one table row
// of 256 entries per pattern byte); longer ones, which no caller uses, fall
// back to comparing the output's tail.
constexpr std::size_t kMaxAutomatonPattern = 1024;

// The output is written through a raw index. When the replacement is shorter
// than the pattern it is written over the text itself: every occurrence then
// shortens what is left to read, so the output never overtakes the reading
// and no second page-sized buffer is needed.
class Output {
public:
    Output(std::string &text, std::size_t replacementLength, std::size_t patternLength)
        : m_bytes(replacementLength < patternLength ? &text : &m_own)
    {
        if (m_bytes == &m_own)
            m_own.resize(text.size() + text.size() / 8 + replacementLength);
    }

    void reserveMore(std::size_t extra)
    {
        // Never reached while writing over the text (see above), which keeps
        // the text's buffer where the reader looks.
        if (m_length + extra > m_bytes->size())
            m_bytes->resize(std::max(m_bytes->size() * 2, m_length + extra));
    }
    void put(char c) { (*m_bytes)[m_length++] = c; }
    // The source may overlap the output when writing over the text.
    void append(const char *data, std::size_t size)
    {
        reserveMore(size);
        if (data != m_bytes->data() + m_length)
            std::memmove(m_bytes->data() + m_length, data, size);
        m_length += size;
    }
    void drop(std::size_t count) { m_length -= count; }
    std::size_t length() const { return m_length; }
    const char *data() const { return m_bytes->data(); }
    std::string take()
    {
        m_bytes->resize(m_length);
        return std::move(*m_bytes);
    }

private:
    std::string m_own;
    std::string *m_bytes;
    std::size_t m_length = 0;
};

// Knuth-Morris-Pratt automaton over folded bytes: the state is the length of
// the longest prefix of the pattern that ends the text read so far.
class Automaton {
public:
    explicit Automaton(const std::string &pattern)
        : m_length(pattern.size()), m_table((m_length + 1) * 256, 0)
    {
        m_table[static_cast<unsigned char>(pattern[0])] = 1;
        std::size_t fallback = 0;
        for (std::size_t j = 1; j < m_length; ++j) {
            const unsigned char next = static_cast<unsigned char>(pattern[j]);
            std::copy_n(&m_table[fallback * 256], 256, &m_table[j * 256]);
            m_table[j * 256 + next] = static_cast<std::uint16_t>(j + 1);
            fallback = m_table[fallback * 256 + next];
        }
        for (std::size_t j = 0; j + 1 < m_length; ++j)
            m_inPrefix[static_cast<unsigned char>(pattern[j])] = true;
    }

    unsigned step(unsigned state, char c) const { return m_table[state * 256u + lower(c)]; }
    // False when a text ending in c can end no proper prefix of the pattern.
    bool mayEndPrefix(char c) const { return m_inPrefix[lower(c)]; }
    bool accepts(unsigned state) const { return state == m_length; }
    // The state after the whole text depends only on its last m - 1 bytes, as
    // long as no occurrence ends there; so after cutting an occurrence off, a
    // short rerun restores it without keeping a state per byte.
    unsigned stateAfter(const char *text, std::size_t length) const
    {
        // A text whose last byte occurs nowhere in the pattern before its
        // last byte ends no prefix of it: the common case, with no rerun.
        if (length == 0 || !mayEndPrefix(text[length - 1]))
            return 0;
        const std::size_t tail = std::min(length, m_length - 1);
        unsigned state = 0;
        for (std::size_t i = length - tail; i < length; ++i)
            state = step(state, text[i]);
        return state;
    }

private:
    std::size_t m_length;
    std::vector<std::uint16_t> m_table;
    std::array<bool, 256> m_inPrefix{};
};

// Reads the text left to right into the output. Whenever the output ends with
// the pattern, that occurrence is the leftmost one of the whole current text
// (all occurrences have the same length, so the leftmost ends first), so it is
// cut off and the replacement is read next, ahead of the rest of the input:
// exactly what restarting the search from the first character would find.
// The output before the cut never holds an occurrence, which is why a search
// may resume right there. While no prefix of the pattern is pending at the
// output's end, the next occurrence in the input is the next one in the whole
// text, so the bytes up to it go over in one piece. firstOccurrence is the
// index of the input's first occurrence.
std::string replaceWithAutomaton(std::string text, const std::string &pattern, bool hasLetter,
                                 std::string_view replacement, std::size_t firstOccurrence)
{
    const Automaton automaton(pattern);
    const std::size_t m = pattern.size();
    const bool mayGrow = replacement.size() > m;
    const bool inertReplacement = std::none_of(replacement.begin(), replacement.end(), [&pattern](char c) {
        return pattern.find(static_cast<char>(lower(c))) != std::string::npos;
    });
    const std::size_t budget = kReplaceWorkSlack + kReplaceWorkFactor * (text.size() + 1) * (replacement.size() + 1);
    std::size_t work = 0;
    // Writing over the text cannot be undone, but needs no cut-off either: it
    // happens only when every occurrence shortens the text, so the work stays
    // below the budget, and the text comes back unchanged only from a copy.
    const std::string_view input(text);
    Output out(text, replacement.size(), m);
    // Replacements still being read, innermost last: the offset reached in each.
    std::vector<std::size_t> pending;
    std::size_t at = 0;
    // The leftmost occurrence in the input at or after at, while known.
    std::size_t next = firstOccurrence;
    bool nextKnown = true;
    unsigned state = 0;
    for (;;) {
        if (pending.empty() && state == 0) {
            if (!nextKnown || (next != std::string_view::npos && next < at))
                next = findFolded(input, pattern, hasLetter, at);
            nextKnown = true;
            const std::size_t end = next == std::string_view::npos ? input.size() : next;
            out.append(input.data() + at, end - at);
            // Judged from the input, which the copy above has not just written.
            const bool plainEnd = end > at && !automaton.mayEndPrefix(input[end - 1]);
            at = end;
            if (at == input.size())
                break;
            // The occurrence itself never reaches the output.
            at += m;
            nextKnown = false;
            if (plainEnd && replacement.empty()) {
                work += m;
                continue;
            }
        } else {
            char c;
            if (!pending.empty()) {
                c = replacement[pending.back()++];
                if (pending.back() == replacement.size())
                    pending.pop_back();
                out.reserveMore(1);
            } else {
                if (at == input.size())
                    break;
                c = input[at++];
                if (mayGrow)
                    out.reserveMore(1);
            }
            out.put(c);
            state = automaton.step(state, c);
            if (!automaton.accepts(state))
                continue;
            out.drop(m);
        }
        work += m + replacement.size();
        if (work > budget)
            return text;
        state = automaton.stateAfter(out.data(), out.length());
        if (replacement.empty())
            continue;
        // From no partial match, a replacement without any byte of the
        // pattern leaves none either: it goes over in one piece.
        if (state == 0 && inertReplacement)
            out.append(replacement.data(), replacement.size());
        else
            pending.push_back(0);
    }
    return out.take();
}

// Same reading as above for long patterns, comparing the output's tail.
std::string replaceWithTailCompare(std::string_view text, const std::string &pattern, std::string_view replacement)
{
    const std::size_t m = pattern.size();
    const std::size_t budget = kReplaceWorkSlack + kReplaceWorkFactor * (text.size() + 1) * (replacement.size() + 1);
    std::size_t work = 0;
    std::string out;
    out.reserve(text.size());
    std::vector<std::size_t> pending;
    std::size_t input = 0;
    auto endsWithPattern = [&] {
        if (out.size() < m || lower(out.back()) != static_cast<unsigned char>(pattern.back()))
            return false;
        const char *tail = out.data() + out.size() - m;
        for (std::size_t i = 0; i < m; ++i) {
            if (lower(tail[i]) != static_cast<unsigned char>(pattern[i]))
                return false;
        }
        return true;
    };
    for (;;) {
        if (!pending.empty()) {
            out.push_back(replacement[pending.back()++]);
            if (pending.back() == replacement.size())
                pending.pop_back();
        } else if (input < text.size()) {
            out.push_back(text[input++]);
        } else {
            break;
        }
        if (endsWithPattern()) {
            work += m + replacement.size();
            if (work > budget)
                return std::string(text);
            out.resize(out.size() - m);
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
    const std::size_t found = search::FindExact(text, pattern, 0);
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
    search::LowerCaseInPlace(text.data(), text.size());
    return text;
}

bool Contains(std::string_view text, std::string_view pattern)
{
    return Pos(pattern, text) > 0;
}

std::size_t FindIgnoreCase(std::string_view text, std::string_view pattern, std::size_t from)
{
    // Patterns are short; folding one on the stack spares an allocation per call.
    constexpr std::size_t kShortPattern = 64;
    if (pattern.size() > kShortPattern) {
        const std::string folded = LowerCase(std::string(pattern));
        return findFolded(text, folded, hasAsciiLetter(folded), from);
    }
    std::array<char, kShortPattern> buffer;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        buffer[i] = static_cast<char>(lower(pattern[i]));
    const std::string_view folded(buffer.data(), pattern.size());
    return findFolded(text, folded, hasAsciiLetter(folded), from);
}

std::size_t PosIgnoreCase(std::string_view pattern, std::string_view text)
{
    const std::size_t found = FindIgnoreCase(text, pattern);
    return found == std::string_view::npos ? 0 : found + 1;
}

bool ContainsIgnoreCase(std::string_view text, std::string_view pattern)
{
    return FindIgnoreCase(text, pattern) != std::string_view::npos;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

char LowerAscii(char c)
{
    return static_cast<char>(lower(c));
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

bool IsAsciiLetter(char c)
{
    const unsigned char folded = lower(c);
    return folded >= 'a' && folded <= 'z';
}

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view text, std::string_view characters)
{
    const std::size_t start = text.find_first_not_of(characters);
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(characters) - start + 1);
}

std::string_view TrimWhitespace(std::string_view text)
{
    return Trim(text, " \t\n\v\f\r");
}

std::string ReplaceAllIgnoreCase(std::string text, std::string_view pattern, std::string_view replacement)
{
    if (pattern.empty() || text.empty())
        return text;
    const std::string folded = LowerCase(std::string(pattern));
    const bool hasLetter = hasAsciiLetter(folded);

    // Most calls find nothing: the text then comes back untouched, uncopied.
    const std::size_t first = findFolded(text, folded, hasLetter, 0);
    if (first == std::string::npos)
        return text;

    // The replacement is read while the text is rewritten; it must not be a
    // view into the text's own bytes.
    const std::string ownReplacement(replacement);
    if (folded.size() <= kMaxAutomatonPattern)
        return replaceWithAutomaton(std::move(text), folded, hasLetter, ownReplacement, first);
    return replaceWithTailCompare(text, folded, ownReplacement);
}

std::string PercentEncode(std::string_view text, BlankEncoding blank)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || IsDigit(c) ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            encoded += c;
        } else if (c == ' ' && blank == BlankEncoding::Plus) {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string PercentDecode(std::string_view text, PlusSign plus)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plus == PlusSign::Blank) {
            decoded += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::string_view TrimLine(std::string_view line)
{
    const std::size_t start = line.find_first_not_of(" \t");
    const std::size_t last = line.find_last_not_of(" \t\r");
    // Nothing but blanks, tabs and CRs: an empty line.
    if (start == std::string_view::npos || last == std::string_view::npos)
        return {};
    return line.substr(start, last - start + 1);
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

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace kelvora
