#include "directory/core/query.h"

#include <vector>

namespace kelvora::directory {

namespace {

// Bytes the FTS tokenizer keeps as part of a token; bytes of 0x80 and above
// belong to UTF-8 letters.
bool IsTokenByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || byte >= 0x80;
}

void AppendTerm(std::string &query, std::string_view term, std::size_t &count)
{
    bool hasToken = false;
    for (char c : term)
        hasToken = hasToken || IsTokenByte(c);
    if (!hasToken || count >= kMaxQueryTerms)
        return;
    if (!query.empty())
        query += ' ';
    query += '"';
    for (char c : term) {
        // Control bytes carry no meaning in a search; a quote cannot occur
        // here but is doubled all the same, which is FTS5's escape.
        if (static_cast<unsigned char>(c) < 0x20)
            query += ' ';
        else if (c == '"')
            query += "\"\"";
        else
            query += c;
    }
    query += '"';
    ++count;
}

} // namespace

std::optional<std::string> QueryValue(std::string_view query, std::string_view key)
{
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        const std::string_view name = pair.substr(0, equals);
        if (name == key) {
            if (equals == std::string_view::npos)
                return std::string();
            return PercentDecode(pair.substr(equals + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
}

SearchText ParseSearchText(std::string_view decoded)
{
    if (decoded.size() > kMaxSearchText)
        decoded = decoded.substr(0, kMaxSearchText);
    std::string_view trimmed = decoded;
    while (!trimmed.empty() && IsAsciiSpace(trimmed.front()))
        trimmed.remove_prefix(1);

    SearchText result;
    if (StartsWithIgnoreCase(trimmed, "link:")) {
        result.kind = SearchText::Kind::Links;
        result.linkKey = HostKey(trimmed.substr(5));
        return result;
    }
    result.ftsQuery = BuildFtsQuery(decoded);
    return result;
}

std::string BuildFtsQuery(std::string_view text)
{
    if (text.size() > kMaxSearchText)
        text = text.substr(0, kMaxSearchText);
    std::string query;
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsAsciiSpace(text[i])) {
            ++i;
        } else if (text[i] == '"') {
            std::size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos)
                close = text.size();
            AppendTerm(query, text.substr(i + 1, close - i - 1), count);
            i = close + 1;
        } else {
            std::size_t end = i;
            while (end < text.size() && !IsAsciiSpace(text[end]) && text[end] != '"')
                ++end;
            AppendTerm(query, text.substr(i, end - i), count);
            i = end;
        }
    }
    return query;
}

std::int64_t ParseCount(std::string_view text, std::int64_t fallback, std::int64_t minimum,
                        std::int64_t maximum)
{
    if (text.empty())
        return fallback;
    std::int64_t value = 0;
    bool tooLarge = false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        const int digit = c - '0';
        // maximum - digit may be negative, and / rounds that toward zero.
        if (tooLarge || maximum < digit || value > (maximum - digit) / 10)
            tooLarge = true;
        else
            value = value * 10 + digit;
    }
    if (tooLarge)
        return maximum;
    if (value < minimum)
        return minimum;
    return value;
}

} // namespace kelvora::directory
