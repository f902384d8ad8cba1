#include "directory/facts/contact_text.h"

#include <libpsl.h>

#include <algorithm>
#include <array>

#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxDomain = 253;
constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kMinPhoneDigits = 5;
constexpr std::size_t kMaxPhoneDigits = 20;
constexpr std::size_t kMaxPhoneLength = 40;
// A protected address with a "?subject=" fits; longer codes are no address.
constexpr std::size_t kMaxCloudflareCode = 1024;

bool IsAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Characters of a local part. Quoted local parts and the rarer specials
// ("!", "#", "{"...) are left out: they are what false matches in text and
// markup are made of, and no business address uses them.
bool IsLocalChar(char c)
{
    return IsAlnum(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}

bool IsDomainChar(char c)
{
    return IsAlnum(c) || c == '.' || c == '-';
}

bool IsRealTopLevelDomain(const std::string &tld)
{
    static constexpr std::array<std::string_view, 4> kReserved = {"test", "example", "invalid", "localhost"};
    if (std::find(kReserved.begin(), kReserved.end(), tld) != kReserved.end())
        return true;
    if (tld.size() < 2 || !std::all_of(tld.begin(), tld.end(), [](char c) { return IsAlnum(c) || c == '-'; }))
        return false;
    return psl_is_public_suffix2(psl_builtin(), tld.c_str(), PSL_TYPE_ANY | PSL_TYPE_NO_STAR_RULE) != 0;
}

bool IsValidDomain(const std::string &domain)
{
    if (domain.empty() || domain.size() > kMaxDomain || domain.find('.') == std::string::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(domain.find('.', start), domain.size());
        const std::string_view label = std::string_view(domain).substr(start, end - start);
        if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-')
            return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return IsAlnum(c) || c == '-'; }))
            return false;
        if (end == domain.size())
            return IsRealTopLevelDomain(std::string(label));
        start = end + 1;
    }
}

// Replaces "[at]", "(dot)", "{ AT }", "(@)" and the like by "@" and ".", dropping
// the blanks around them. One pass; any other text is copied unchanged.
std::string Deobfuscate(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char open = text[i];
        const char close = open == '[' ? ']' : open == '(' ? ')' : open == '{' ? '}' : '\0';
        if (close) {
            std::size_t j = i + 1;
            while (j < text.size() && text[j] == ' ')
                ++j;
            char replacement = '\0';
            std::size_t wordLength = 0;
            if (j < text.size() && text[j] == '@') {
                replacement = '@';
                wordLength = 1;
            } else if (StartsWithIgnoreCase(text.substr(j), "at")) {
                replacement = '@';
                wordLength = 2;
            } else if (StartsWithIgnoreCase(text.substr(j), "dot")) {
                replacement = '.';
                wordLength = 3;
            }
            if (replacement) {
                j += wordLength;
                while (j < text.size() && text[j] == ' ')
                    ++j;
                if (j < text.size() && text[j] == close) {
                    while (!out.empty() && out.back() == ' ')
                        out.pop_back();
                    out += replacement;
                    i = j + 1;
                    while (i < text.size() && text[i] == ' ')
                        ++i;
                    continue;
                }
            }
        }
        out += open;
        ++i;
    }
    return out;
}

} // namespace

std::optional<std::string> DecodeCloudflareEmail(std::string_view code)
{
    if (code.size() < 4 || code.size() % 2 != 0 || code.size() > kMaxCloudflareCode)
        return std::nullopt;
    std::string decoded;
    int key = -1;
    for (std::size_t i = 0; i < code.size(); i += 2) {
        const int high = HexDigitValue(code[i]);
        const int low = HexDigitValue(code[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        const int byte = high * 16 + low;
        if (key < 0)
            key = byte;
        else
            decoded += static_cast<char>(byte ^ key);
    }
    return decoded;
}

std::string Rot13(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        if ((c >= 'a' && c <= 'z'))
            c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
    return out;
}

std::optional<std::string> NormaliseMailAddress(std::string_view text)
{
    text = TrimWhitespace(text);
    if (StartsWithIgnoreCase(text, "mailto:"))
        text = TrimWhitespace(text.substr(7));
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos || at == 0 || text.find('@', at + 1) != std::string_view::npos)
        return std::nullopt;
    const std::string_view local = text.substr(0, at);
    if (local.size() > kMaxLocalPart || local.front() == '.' || local.back() == '.' ||
        local.find("..") != std::string_view::npos || !std::all_of(local.begin(), local.end(), IsLocalChar))
        return std::nullopt;
    const std::string domain = LowerCase(std::string(text.substr(at + 1)));
    if (!IsValidDomain(domain))
        return std::nullopt;
    return std::string(local) + "@" + domain;
}

std::optional<std::string> NormalisePhoneNumber(std::string_view text)
{
    text = TrimWhitespace(text);
    if (StartsWithIgnoreCase(text, "tel:"))
        text = text.substr(4);
    text = TrimWhitespace(text.substr(0, text.find(';')));
    if (text.empty() || text.size() > kMaxPhoneLength * 2)
        return std::nullopt;
    std::string number;
    std::size_t digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digits;
            number += c;
        } else if (c == '+' && number.empty()) {
            number += c;
        } else if (IsBlank(c)) {
            if (!number.empty() && number.back() != ' ')
                number += ' ';
        } else if (c == '-' || c == '.' || c == '/' || c == '(' || c == ')') {
            number += c;
        } else {
            return std::nullopt;
        }
    }
    while (!number.empty() && number.back() == ' ')
        number.pop_back();
    if (digits < kMinPhoneDigits || digits > kMaxPhoneDigits || number.size() > kMaxPhoneLength)
        return std::nullopt;
    return number;
}

std::vector<std::string> FindMailAddresses(std::string_view text)
{
    std::vector<std::string> found;
    const std::string plain = Deobfuscate(text);
    std::size_t from = 0;   // nothing before this is part of a later address
    for (std::size_t at = plain.find('@'); at != std::string::npos && found.size() < kMaxAddressesPerText;
         at = plain.find('@', at + 1)) {
        std::size_t start = at;
        while (start > from && at - start < kMaxLocalPart + 1 && IsLocalChar(plain[start - 1]))
            --start;
        std::size_t end = at + 1;
        while (end < plain.size() && end - at <= kMaxDomain && IsDomainChar(plain[end]))
            ++end;
        // Sentence punctuation after an address is no part of it.
        while (end > at + 1 && (plain[end - 1] == '.' || plain[end - 1] == '-'))
            --end;
        while (start < at && (plain[start] == '.' || plain[start] == '-'))
            ++start;
        const std::optional<std::string> address =
            NormaliseMailAddress(std::string_view(plain).substr(start, end - start));
        if (!address)
            continue;
        from = end;
        const bool known = std::any_of(found.begin(), found.end(),
                                       [&](const std::string &seen) { return EqualsIgnoreCase(seen, *address); });
        if (!known)
            found.push_back(*address);
    }
    return found;
}

} // namespace kelvora::directory::facts
