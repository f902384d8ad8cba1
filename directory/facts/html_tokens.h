#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The tokens of an HTML page read in one pass without building a tree: start
// and end tags with their attributes, text and comments. Character
// references are decoded, line ends made "\n" and bytes that are no UTF-8
// replaced by U+FFFD, as an HTML5 parser does, so what the contact finder
// reads from the tokens is what a tree builder would have given it. Once
// the reader says it opened script, style or another raw-text element, its
// contents come as one text token (title and textarea with references
// decoded).
namespace kelvora::directory::facts {

struct NamedReference {
    const char *name;    // "amp;", "amp", "nbsp;"
    const char *value;   // its UTF-8 text
};
extern const std::array<NamedReference, 2231> kNamedReferences;

enum class HtmlTokenKind { Text, StartTag, EndTag, Comment, End };

struct HtmlToken {
    HtmlTokenKind kind = HtmlTokenKind::End;
    std::string name;   // tag name in lower case
    std::vector<std::pair<std::string, std::string>> attributes;   // first of each name
    bool selfClosing = false;
    std::string text;

    // The attribute's value, or nullptr when the tag has none of that name.
    const std::string *Attribute(std::string_view attributeName) const;
};

class HtmlTokenizer final {
public:
    explicit HtmlTokenizer(std::string_view html);

    // The next token into token (its storage reused); End at the end.
    void Next(HtmlToken &token);

    // The reader opened an element of that name: after script, style,
    // title, textarea and the like, text runs to their end tag. (A tag the
    // reader drops, as a list box drops most, changes nothing.)
    void Opened(std::string_view name);

    // Inside svg or math, "<![CDATA[" opens text and no element holds raw
    // text; the reader says when that is.
    void SetForeign(bool foreign) { m_foreign = foreign; }

private:
    void ReadText(HtmlToken &token);
    bool ReadMarkup(HtmlToken &token);
    void ReadTag(HtmlToken &token, bool closing);
    void ReadRawText(HtmlToken &token, bool references);
    void SkipTo(std::string_view end);
    void AppendReference(std::string &out, bool inAttribute);
    std::string DecodeAttribute(std::string_view raw);

    std::string_view m_html;
    std::size_t m_at = 0;
    std::string m_rawEnd;   // the element whose end tag closes raw text, or ""
    bool m_rawReferences = false;
    bool m_foreign = false;
};

// text appended to out as UTF-8 with line ends made "\n", NUL bytes
// dropped and invalid bytes replaced by U+FFFD.
void AppendCleanText(std::string &out, std::string_view text);

} // namespace kelvora::directory::facts
