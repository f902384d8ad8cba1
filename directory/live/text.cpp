#include "directory/live/text.h"

#include <algorithm>
#include <array>
#include <utility>

#include "directory/core/query.h"
#include "directory/live/idn.h"

namespace kelvora::directory::live {

namespace {

// The entities engines put into titles and snippets; others stay as written.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kEntities{{
    {"&amp;", "&"},
    {"&lt;", "<"},
    {"&gt;", ">"},
    {"&quot;", "\""},
    {"&#39;", "'"},
    {"&#x27;", "'"},
    {"&apos;", "'"},
    {"&nbsp;", " "},
}};

// Cuts text to at most maxBytes, backing off to the start of a UTF-8
// sequence so that no character is split.
void CutUtf8(std::string &text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
}

} // namespace

std::string PlainText(std::string_view fragment, std::size_t maxBytes)
{
    std::string text;
    text.reserve(std::min(fragment.size(), maxBytes + 8));
    bool pendingSpace = false;
    auto append = [&](std::string_view piece) {
        if (pendingSpace && !text.empty())
            text += ' ';
        pendingSpace = false;
        text += piece;
    };
    std::size_t i = 0;
    // Work stops once the cut is certain, so a huge snippet costs little.
    while (i < fragment.size() && text.size() <= maxBytes) {
        const unsigned char c = static_cast<unsigned char>(fragment[i]);
        if (c == '<') {
            const std::size_t close = fragment.find('>', i);
            if (close == std::string_view::npos)
                break;   // an unclosed tag runs to the end
            // Engines mark matched words inside a word's letters too, so a
            // tag itself stands for nothing.
            i = close + 1;
            continue;
        }
        if (c == '&') {
            bool decoded = false;
            for (const auto &[entity, replacement] : kEntities) {
                if (StartsWithIgnoreCase(fragment.substr(i), entity)) {
                    if (replacement == " ")
                        pendingSpace = !text.empty();
                    else
                        append(replacement);
                    i += entity.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded)
                continue;
        }
        if (IsAsciiSpace(static_cast<char>(c)) || c < 0x20 || c == 0x7F) {
            pendingSpace = !text.empty();
            ++i;
            continue;
        }
        append(std::string_view(&fragment[i], 1));
        ++i;
    }
    CutUtf8(text, maxBytes);
    return text;
}

std::optional<std::string> ResultHost(std::string_view url)
{
    const std::optional<UrlParts> parts = SplitUrl(TrimWhitespace(url));
    if (!parts)
        return std::nullopt;
    std::optional<std::string> ascii = AsciiHostName(WithoutTrailingDots(parts->host));
    if (!ascii || !IsStorableHost(*ascii))
        return std::nullopt;
    return ascii;
}

} // namespace kelvora::directory::live
