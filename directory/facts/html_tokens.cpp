#include "directory/facts/html_tokens.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

// The longest reference name ("CounterClockwiseContourIntegral;").
constexpr std::size_t kMaxReferenceName = 32;
constexpr std::string_view kReplacement = "\xef\xbf\xbd";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiAlphanumeric(char c)
{
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void AppendCodePoint(std::string &out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Numeric references to the C1 range mean the Windows-1252 characters old
// pages meant by them.
constexpr std::array<std::uint16_t, 32> kWindows1252 = {
    0x20ac, 0x81, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8d, 0x017d, 0x8f, 0x90, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x9d, 0x017e, 0x0178};

std::uint32_t NumericReferenceValue(std::uint64_t value)
{
    if (value == 0 || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0xfffd;
    if (value >= 0x80 && value <= 0x9f)
        return kWindows1252[value - 0x80];
    return static_cast<std::uint32_t>(value);
}

// Length of the valid UTF-8 sequence at text[at], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2;
    else if (lead >= 0xe0 && lead <= 0xef)
        length = 3;
    else if (lead >= 0xf0 && lead <= 0xf4)
        length = 4;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
    }
    // No overlong forms, surrogates or code points past U+10FFFF.
    if ((lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xed && byte(1) > 0x9f) || (lead == 0xf0 && byte(1) < 0x90) ||
        (lead == 0xf4 && byte(1) > 0x8f))
        return 0;
    return length;
}

} // namespace

const std::string *HtmlToken::Attribute(std::string_view attributeName) const
{
    for (const auto &[name, value] : attributes) {
        if (name == attributeName)
            return &value;
    }
    return nullptr;
}

void AppendCleanText(std::string &out, std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t plain = i;
        while (plain < text.size()) {
            const auto byte = static_cast<unsigned char>(text[plain]);
            if (byte >= 0x80 || byte == '\r' || byte == 0)
                break;
            ++plain;
        }
        out.append(text.substr(i, plain - i));
        i = plain;
        if (i == text.size())
            break;
        const char c = text[i];
        if (c == '\r') {
            out += '\n';
            i += (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        } else if (c == 0) {
            ++i;
        } else if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
}

HtmlTokenizer::HtmlTokenizer(std::string_view html)
    : m_html(html)
{
}

void HtmlTokenizer::Next(HtmlToken &token)
{
    token.name.clear();
    token.attributes.clear();
    token.selfClosing = false;
    token.text.clear();
    if (!m_rawEnd.empty()) {
        ReadRawText(token, m_rawReferences);
        if (!token.text.empty())
            return;
    }
    while (m_at < m_html.size()) {
        if (m_html[m_at] != '<') {
            ReadText(token);
            return;
        }
        if (ReadMarkup(token))
            return;
        if (!token.text.empty()) {   // a "<" that opened nothing
            token.kind = HtmlTokenKind::Text;
            ReadText(token);
            return;
        }
    }
    token.kind = HtmlTokenKind::End;
}

// Text up to the next "<" that opens markup.
void HtmlTokenizer::ReadText(HtmlToken &token)
{
    token.kind = HtmlTokenKind::Text;
    while (m_at < m_html.size()) {
        std::size_t stop = m_at;
        while (stop < m_html.size() && m_html[stop] != '<' && m_html[stop] != '&')
            ++stop;
        AppendCleanText(token.text, m_html.substr(m_at, stop - m_at));
        m_at = stop;
        if (m_at == m_html.size())
            return;
        if (m_html[m_at] == '&') {
            ++m_at;
            AppendReference(token.text, false);
            continue;
        }
        // "<" followed by what opens a tag, a comment or a declaration.
        const char next = m_at + 1 < m_html.size() ? m_html[m_at + 1] : '\0';
        if (m_at + 1 < m_html.size() && (IsAsciiLetter(next) || next == '/' || next == '!' || next == '?'))
            return;
        token.text += '<';
        ++m_at;
    }
}

// At a "<": a tag, comment or declaration read into token (true), or one
// skipped (false, nothing in token), or a "<" that is text (false, "<" in
// token.text).
bool HtmlTokenizer::ReadMarkup(HtmlToken &token)
{
    const std::string_view rest = m_html.substr(m_at);
    if (rest.size() < 2) {
        ++m_at;
        token.text = "<";
        return false;
    }
    const char next = rest[1];
    if (IsAsciiLetter(next)) {
        m_at += 1;
        ReadTag(token, false);
        return token.kind != HtmlTokenKind::End;
    }
    if (next == '/') {
        if (rest.size() > 2 && IsAsciiLetter(rest[2])) {
            m_at += 2;
            ReadTag(token, true);
            return token.kind != HtmlTokenKind::End;
        }
        if (rest.size() > 2 && rest[2] == '>') {
            m_at += 3;   // "</>" is dropped
            return false;
        }
        if (rest.size() == 2) {
            m_at = m_html.size();
            token.text = "</";
            return false;
        }
        m_at += 2;
        SkipTo(">");   // a bogus comment
        token.kind = HtmlTokenKind::Comment;
        return true;
    }
    if (next == '!') {
        token.kind = HtmlTokenKind::Comment;
        if (rest.substr(0, 4) == "<!--") {
            m_at += 4;
            // "<!-->" and "<!--->" close at once.
            if (m_at < m_html.size() && m_html[m_at] == '>') {
                ++m_at;
                return true;
            }
            if (m_html.substr(m_at, 2) == "->") {
                m_at += 2;
                return true;
            }
            for (std::size_t at = m_html.find("--", m_at); at != std::string_view::npos;
                 at = m_html.find("--", at + 1)) {
                if (m_html.substr(at + 2, 1) == ">" || m_html.substr(at + 2, 2) == "!>") {
                    m_at = at + (m_html[at + 2] == '>' ? 3 : 4);
                    return true;
                }
            }
            m_at = m_html.size();
            return true;
        }
        if (m_foreign && rest.substr(0, 9) == "<![CDATA[") {
            m_at += 9;
            const std::size_t end = std::min(m_html.find("]]>", m_at), m_html.size());
            token.kind = HtmlTokenKind::Text;
            AppendCleanText(token.text, m_html.substr(m_at, end - m_at));
            m_at = std::min(end + 3, m_html.size());
            if (token.text.empty())
                token.kind = HtmlTokenKind::Comment;
            return true;
        }
        m_at += 2;
        SkipTo(">");   // a doctype or a bogus comment
        return true;
    }
    if (next == '?') {
        m_at += 1;
        SkipTo(">");
        token.kind = HtmlTokenKind::Comment;
        return true;
    }
    ++m_at;
    token.text = "<";
    return false;
}

void HtmlTokenizer::SkipTo(std::string_view end)
{
    const std::size_t at = m_html.find(end, m_at);
    m_at = at == std::string_view::npos ? m_html.size() : at + end.size();
}

// A tag from its name on; a tag cut off by the end of the page is dropped
// (kind End).
void HtmlTokenizer::ReadTag(HtmlToken &token, bool closing)
{
    token.kind = HtmlTokenKind::End;
    const std::size_t size = m_html.size();
    std::size_t at = m_at;
    std::string name;
    while (at < size && !IsSpace(m_html[at]) && m_html[at] != '/' && m_html[at] != '>') {
        name += Lower(m_html[at]);
        ++at;
    }
    std::vector<std::pair<std::string, std::string>> &attributes = token.attributes;
    bool selfClosing = false;
    while (true) {
        while (at < size && IsSpace(m_html[at]))
            ++at;
        if (at >= size) {
            m_at = size;
            return;
        }
        if (m_html[at] == '>') {
            ++at;
            break;
        }
        if (m_html[at] == '/') {
            ++at;
            if (at < size && m_html[at] == '>') {
                selfClosing = true;
                ++at;
                break;
            }
            continue;
        }
        // An attribute name; a leading "=" belongs to it.
        std::string attributeName(1, Lower(m_html[at]));
        ++at;
        while (at < size && !IsSpace(m_html[at]) && m_html[at] != '/' && m_html[at] != '>' && m_html[at] != '=') {
            attributeName += Lower(m_html[at]);
            ++at;
        }
        while (at < size && IsSpace(m_html[at]))
            ++at;
        std::string value;
        if (at < size && m_html[at] == '=') {
            ++at;
            while (at < size && IsSpace(m_html[at]))
                ++at;
            if (at < size && (m_html[at] == '"' || m_html[at] == '\'')) {
                const char quote = m_html[at++];
                const std::size_t end = m_html.find(quote, at);
                if (end == std::string_view::npos) {
                    m_at = size;
                    return;
                }
                value = DecodeAttribute(m_html.substr(at, end - at));
                at = end + 1;
            } else {
                std::size_t end = at;
                while (end < size && !IsSpace(m_html[end]) && m_html[end] != '>')
                    ++end;
                value = DecodeAttribute(m_html.substr(at, end - at));
                at = end;
            }
        }
        if (std::none_of(attributes.begin(), attributes.end(),
                         [&](const auto &attribute) { return attribute.first == attributeName; }))
            attributes.emplace_back(std::move(attributeName), std::move(value));
    }
    m_at = at;
    token.kind = closing ? HtmlTokenKind::EndTag : HtmlTokenKind::StartTag;
    token.name = std::move(name);
    token.selfClosing = selfClosing;
    if (closing)
        attributes.clear();
}

void HtmlTokenizer::Opened(std::string_view name)
{
    if (m_foreign)
        return;
    static constexpr std::string_view kRawText[] = {"script", "style", "xmp", "iframe", "noembed", "noframes",
                                                    "plaintext"};
    if (std::find(std::begin(kRawText), std::end(kRawText), name) != std::end(kRawText)) {
        m_rawEnd = name;
        m_rawReferences = false;
    } else if (name == "title" || name == "textarea") {
        m_rawEnd = name;
        m_rawReferences = true;
    }
}

std::string HtmlTokenizer::DecodeAttribute(std::string_view raw)
{
    std::string value;
    std::size_t at = 0;
    while (at < raw.size()) {
        const std::size_t amp = std::min(raw.find('&', at), raw.size());
        AppendCleanText(value, raw.substr(at, amp - at));
        if (amp == raw.size())
            break;
        // References read within the value only.
        const std::string_view saved = m_html;
        const std::size_t savedAt = m_at;
        m_html = raw;
        m_at = amp + 1;
        AppendReference(value, true);
        at = m_at;
        m_html = saved;
        m_at = savedAt;
    }
    return value;
}

// The text of a raw-text element up to its end tag (left for the next
// token), as one text token.
void HtmlTokenizer::ReadRawText(HtmlToken &token, bool references)
{
    token.kind = HtmlTokenKind::Text;
    std::size_t end = m_html.size();
    if (m_rawEnd != "plaintext") {
        for (std::size_t at = m_html.find("</", m_at); at != std::string_view::npos; at = m_html.find("</", at + 2)) {
            const std::size_t after = at + 2 + m_rawEnd.size();
            if (after <= m_html.size() && EqualsIgnoreCase(m_html.substr(at + 2, m_rawEnd.size()), m_rawEnd) &&
                (after == m_html.size() || IsSpace(m_html[after]) || m_html[after] == '/' || m_html[after] == '>')) {
                end = at;
                break;
            }
        }
    }
    const std::string_view raw = m_html.substr(m_at, end - m_at);
    if (!references) {
        AppendCleanText(token.text, raw);
    } else {
        const std::string_view saved = m_html;
        const std::size_t savedAt = m_at;
        m_html = raw;
        m_at = 0;
        while (m_at < m_html.size()) {
            const std::size_t amp = std::min(m_html.find('&', m_at), m_html.size());
            AppendCleanText(token.text, m_html.substr(m_at, amp - m_at));
            m_at = amp;
            if (amp == m_html.size())
                break;
            ++m_at;
            AppendReference(token.text, false);
        }
        m_html = saved;
        m_at = savedAt;
    }
    m_at = end;
    m_rawEnd.clear();
}

// A character reference after an "&" (at m_at), or the "&" itself when
// none is there.
void HtmlTokenizer::AppendReference(std::string &out, bool inAttribute)
{
    const std::string_view rest = m_html.substr(m_at);
    if (!rest.empty() && rest[0] == '#') {
        const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
        std::size_t at = hex ? 2 : 1;
        std::uint64_t value = 0;
        const std::size_t digitsStart = at;
        while (at < rest.size()) {
            const char c = rest[at];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && Lower(c) >= 'a' && Lower(c) <= 'f')
                digit = Lower(c) - 'a' + 10;
            if (digit < 0)
                break;
            value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit), 0x110000);
            ++at;
        }
        if (at == digitsStart) {
            out += '&';
            return;
        }
        if (at < rest.size() && rest[at] == ';')
            ++at;
        AppendCodePoint(out, NumericReferenceValue(value));
        m_at += at;
        return;
    }
    std::size_t length = 0;
    while (length < rest.size() && length < kMaxReferenceName && IsAsciiAlphanumeric(rest[length]))
        ++length;
    if (length < rest.size() && length < kMaxReferenceName && rest[length] == ';')
        ++length;
    // The longest name that starts the text.
    for (; length > 0; --length) {
        const std::string_view name = rest.substr(0, length);
        const auto found = std::lower_bound(kNamedReferences.begin(), kNamedReferences.end(), name,
                                            [](const NamedReference &entry, std::string_view key) {
                                                return std::string_view(entry.name) < key;
                                            });
        if (found == kNamedReferences.end() || std::string_view(found->name) != name)
            continue;
        if (inAttribute && name.back() != ';' && length < rest.size() &&
            (IsAsciiAlphanumeric(rest[length]) || rest[length] == '='))
            break;
        out += found->value;
        m_at += length;
        return;
    }
    out += '&';
}

} // namespace kelvora::directory::facts
