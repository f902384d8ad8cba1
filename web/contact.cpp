#include "web/contact.h"

#include "web/http.h"
#include "web/text.h"
#include "web/traffic.h"

#include <array>
#include <string_view>
#include <utility>

namespace kelvora {

namespace {

constexpr int httpPort = 80;
constexpr std::string_view blockStart = "<!--contact-->";
constexpr std::string_view blockEnd = "<!--/contact-->";
constexpr std::string_view lineBreak = "\r\n";

constexpr std::array<std::pair<std::string_view, char>, 5> entities{{
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''},
}};

// Appends text to out with the entities decoded in one left-to-right pass, so
// "&amp;lt;" becomes "&lt;" and not "<".
void AppendDecoded(std::string_view text, std::string &out)
{
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto &[name, character] : entities) {
                if (text.substr(i, name.size()) == name) {
                    out += character;
                    i += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
}

// The block's non-blank lines. Tags and line breaks both end a line; since
// markup such as "<br>" followed by a line break or "</p><p>" yields runs of
// empty lines, blank lines are dropped.
std::vector<std::string> BlockLines(std::string_view block)
{
    std::vector<std::string> lines;
    const auto endLine = [&lines](std::string_view raw) {
        // No entity decodes to nothing, so a line is blank exactly when its
        // trimmed source is empty.
        const std::string_view line = TrimWhitespace(raw);
        if (line.empty())
            return;
        AppendDecoded(line, lines.emplace_back());
    };

    std::size_t lineStart = 0;
    std::size_t i = 0;
    while (i < block.size()) {
        const char c = block[i];
        if (c == '<') {
            endLine(block.substr(lineStart, i - lineStart));
            const std::size_t close = block.find('>', i);
            i = close == std::string_view::npos ? block.size() : close + 1;
            lineStart = i;
        } else if (c == '\r' || c == '\n') {
            endLine(block.substr(lineStart, i - lineStart));
            lineStart = ++i;
        } else {
            ++i;
        }
    }
    endLine(block.substr(lineStart));
    return lines;
}

// The summary of text that is already lower-cased with CR LF pairs removed.
std::string SummaryOfNormalised(const std::string &text, const PageHooks &hooks)
{
    const std::string competitor = ParseCompetitor(text, hooks);
    const std::string since = ParseOnlineSince(text);
    const std::string rank = ParseTrafficRank(text, hooks);
    return "Competitor:\r\n" + competitor + "\r\n\r\nSince:\r\n" + since + "\r\n\r\nRanking:\r\n" + rank;
}

std::string NoContactData(const std::string &host)
{
    return "No contact data found for " + host + ".";
}

} // namespace

namespace {

// The pane text and the contact lines of one page.
ContactData ReadContactData(const std::string &host, const std::string &page)
{
    std::string lower = LowerCase(page);
    const std::size_t start = lower.find(blockStart);
    if (start == std::string::npos)
        return {NoContactData(host), {}};
    const std::size_t blockBegin = start + blockStart.size();
    const std::size_t end = lower.find(blockEnd, blockBegin);
    if (end == std::string::npos)
        return {NoContactData(host), {}};

    ContactData data;
    data.lines = BlockLines(std::string_view(page).substr(blockBegin, end - blockBegin));
    std::string &text = data.paneText;
    text = "Website: " + host;
    for (const std::string &line : data.lines) {
        text += lineBreak;
        text += line;
    }
    text += lineBreak;
    text += lineBreak;
    text += SummaryOfNormalised(ReplaceAllIgnoreCase(std::move(lower), lineBreak, ""), PageHooks{});
    return data;
}

} // namespace

std::string FormatContactData(const std::string &host, const std::string &page)
{
    return ReadContactData(host, page).paneText;
}

ContactData FetchContact(const std::string &partner, const PageHooks &hooks)
{
    try {
        const std::string host = BareHost(partner);
        std::string page;
        HttpGet(TrafficPageUrl(partner), page, httpPort);
        hooks.Pump();
        return ReadContactData(host, page);
    } catch (...) {
        return {};
    }
}

std::string FetchContactData(const std::string &partner, const PageHooks &hooks)
{
    return FetchContact(partner, hooks).paneText;
}

std::string ContactFileName(const std::string &partner)
{
    const std::string host = BareHost(partner);
    const auto dot = static_cast<long long>(Pos(".", host));
    return Copy(host, 1, dot - 1) + ".txt";
}

std::string CompetitorSummary(const std::string &paneText, const PageHooks &hooks)
{
    return SummaryOfNormalised(ReplaceAllIgnoreCase(LowerCase(paneText), lineBreak, ""), hooks);
}

} // namespace kelvora
