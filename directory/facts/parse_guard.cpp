#include "directory/facts/parse_guard.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

// Names are compared by hash: the scan only needs to tell tags apart.
using NameHash = std::uint64_t;
constexpr std::size_t kMaxNameLength = 16;

bool IsNameChar(char c)
{
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

// FNV-1a of the name in lower case.
constexpr NameHash Hash(std::string_view name)
{
    NameHash hash = 14695981039346656037ull;
    for (char c : name) {
        hash ^= static_cast<unsigned char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
        hash *= 1099511628211ull;
    }
    return hash;
}

template <std::size_t Size>
constexpr bool Contains(const std::array<NameHash, Size> &hashes, NameHash hash)
{
    return std::find(hashes.begin(), hashes.end(), hash) != hashes.end();
}

// Void elements and those whose end tag may be left out (the parser closes
// them at the next sibling): they open no level that could stack up.
constexpr std::array<NameHash, 35> kNoLevel = {
    Hash("area"), Hash("base"), Hash("br"), Hash("col"), Hash("embed"), Hash("hr"), Hash("img"),
    Hash("input"), Hash("link"), Hash("meta"), Hash("param"), Hash("source"), Hash("track"), Hash("wbr"),
    Hash("keygen"), Hash("frame"), Hash("basefont"), Hash("bgsound"), Hash("image"), Hash("li"), Hash("p"),
    Hash("dt"), Hash("dd"), Hash("option"), Hash("optgroup"), Hash("tr"), Hash("td"), Hash("th"),
    Hash("tbody"), Hash("thead"), Hash("tfoot"), Hash("colgroup"), Hash("html"), Hash("head"), Hash("body")};

// Elements whose content is text up to their own end tag.
constexpr std::array<NameHash, 10> kRawText = {Hash("script"), Hash("style"), Hash("textarea"),
                                               Hash("title"), Hash("xmp"), Hash("iframe"), Hash("noembed"),
                                               Hash("noframes"), Hash("noscript"), Hash("plaintext")};

// Start tags after which the parser does not re-open formatting elements
// (the blocks; text inside them does).
constexpr std::array<NameHash, 43> kNoReopen = {
    Hash("address"), Hash("article"), Hash("aside"), Hash("blockquote"), Hash("center"), Hash("details"),
    Hash("dialog"), Hash("dir"), Hash("div"), Hash("dl"), Hash("fieldset"), Hash("figcaption"),
    Hash("figure"), Hash("footer"), Hash("header"), Hash("hgroup"), Hash("main"), Hash("menu"), Hash("nav"),
    Hash("ol"), Hash("p"), Hash("search"), Hash("section"), Hash("summary"), Hash("ul"), Hash("h1"),
    Hash("h2"), Hash("h3"), Hash("h4"), Hash("h5"), Hash("h6"), Hash("pre"), Hash("listing"), Hash("form"),
    Hash("li"), Hash("dd"), Hash("dt"), Hash("table"), Hash("hr"), Hash("html"), Hash("head"), Hash("body"),
    Hash("frameset")};

constexpr std::array<NameHash, 14> kFormatting = {Hash("a"), Hash("b"), Hash("big"), Hash("code"), Hash("em"),
                                                  Hash("font"), Hash("i"), Hash("nobr"), Hash("s"),
                                                  Hash("small"), Hash("strike"), Hash("strong"), Hash("tt"),
                                                  Hash("u")};

class TreeModel final {
public:
    // False when the step would pass a limit.
    bool Text() { return Reopen(); }

    bool Start(NameHash name)
    {
        if (!Contains(kNoReopen, name) && !Reopen())
            return false;
        if (Contains(kNoLevel, name))
            return true;
        const bool formatting = Contains(kFormatting, name);
        m_open.push_back({name, formatting});
        if (formatting)
            m_formatting.push_back({name, true});
        return m_open.size() <= kMaxNestingDepth;
    }

    void End(NameHash name)
    {
        if (Contains(kNoLevel, name))
            return;
        std::size_t index = m_open.size();
        while (index > 0 && m_open[index - 1].name != name)
            --index;
        if (index == 0)
            return;   // a stray end tag: the parser ignores it too
        // Formatting elements closed by a block's end stay listed, to be
        // re-opened; one closed by its own end tag is done with.
        for (std::size_t i = m_open.size(); i > index; --i) {
            if (m_open[i - 1].formatting)
                Detach(m_open[i - 1].name);
        }
        if (m_open[index - 1].formatting)
            Forget(m_open[index - 1].name);
        m_open.resize(index - 1);
    }

private:
    struct Element {
        NameHash name;
        bool formatting;
    };
    struct Formatting {
        NameHash name;
        bool open;
    };

    bool Reopen()
    {
        if (m_detached == 0)
            return true;
        m_reopened += m_detached;
        if (m_reopened > kMaxReopenedElements)
            return false;
        for (Formatting &entry : m_formatting) {
            if (!entry.open) {
                entry.open = true;
                m_open.push_back({entry.name, true});
            }
        }
        m_detached = 0;
        return m_open.size() <= kMaxNestingDepth;
    }

    void Detach(NameHash name)
    {
        for (std::size_t i = m_formatting.size(); i > 0; --i) {
            if (m_formatting[i - 1].name == name && m_formatting[i - 1].open) {
                m_formatting[i - 1].open = false;
                ++m_detached;
                return;
            }
        }
    }

    void Forget(NameHash name)
    {
        for (std::size_t i = m_formatting.size(); i > 0; --i) {
            if (m_formatting[i - 1].name == name && m_formatting[i - 1].open) {
                m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(i - 1));
                return;
            }
        }
    }

    std::vector<Element> m_open;
    std::vector<Formatting> m_formatting;
    std::size_t m_detached = 0;
    std::size_t m_reopened = 0;
};

// Position after the end tag "</name...>" of a raw-text element, searched
// from from on; the end of html when there is none.
std::size_t AfterRawText(std::string_view html, std::size_t from, std::string_view name)
{
    for (std::size_t close = html.find("</", from); close != std::string_view::npos;
         close = html.find("</", close + 2)) {
        if (StartsWithIgnoreCase(html.substr(close + 2), name)) {
            const std::size_t end = html.find('>', close);
            return end == std::string_view::npos ? html.size() : end + 1;
        }
    }
    return html.size();
}

} // namespace

std::size_t ParseableLength(std::string_view html)
{
    TreeModel model;
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t tag = html.find('<', i);
        const std::size_t textEnd = tag == std::string_view::npos ? html.size() : tag;
        if (textEnd > i && !model.Text())
            return i;
        if (tag == std::string_view::npos)
            break;
        if (html.compare(tag, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", tag + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const bool closing = tag + 1 < html.size() && html[tag + 1] == '/';
        const std::size_t nameStart = tag + (closing ? 2 : 1);
        if (nameStart >= html.size() || !IsAsciiLetter(html[nameStart])) {
            i = tag + 1;   // a "<" that opens no tag is text
            continue;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && IsNameChar(html[nameEnd]))
            ++nameEnd;
        const std::size_t tagEnd = html.find('>', nameEnd);
        if (tagEnd == std::string_view::npos)
            break;
        const std::string_view nameText = html.substr(nameStart, std::min(nameEnd - nameStart, kMaxNameLength));
        const NameHash name = Hash(nameText);
        i = tagEnd + 1;
        if (closing) {
            model.End(name);
            continue;
        }
        if (Contains(kRawText, name)) {
            i = AfterRawText(html, i, nameText);
            continue;
        }
        const bool selfClosing = html[tagEnd - 1] == '/';
        if (!(selfClosing ? model.Text() : model.Start(name)))
            return tag;
    }
    return html.size();
}

} // namespace kelvora::directory::facts
