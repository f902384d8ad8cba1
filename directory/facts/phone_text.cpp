#include "directory/facts/phone_text.h"

#include <phonenumbers/logger.h>
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumbermatch.h>
#include <phonenumbers/phonenumbermatcher.h>
#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <array>

#include "directory/facts/contact_text.h"

namespace kelvora::directory::facts {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberMatch;
using i18n::phonenumbers::PhoneNumberMatcher;
using i18n::phonenumbers::PhoneNumberUtil;

// Candidates the matcher may reject per snippet before it gives up; a
// snippet rarely holds more than two numbers.
constexpr int kMaxMatcherTries = 4;
// Numbers taken from one snippet.
constexpr std::size_t kMaxNumbersPerSnippet = 4;
// Labels looked at per text; past them a text is prose, not an imprint.
constexpr std::size_t kMaxPhoneLabels = 4096;
// No valid number anywhere has fewer digits.
constexpr std::size_t kMinPhoneDigits = 5;
// libphonenumber's region for "no region": only "+" numbers are read.
constexpr const char *kUnknownRegion = "ZZ";

const PhoneNumberUtil &Util()
{
    // The library reports rejected input through its logger; a service
    // reading hostile pages must not echo that to stderr.
    static PhoneNumberUtil *const util = [] {
        PhoneNumberUtil *instance = PhoneNumberUtil::GetInstance();
        instance->SetLogger(new i18n::phonenumbers::NullLogger());
        return instance;
    }();
    return *util;
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Letters for word boundaries: ASCII letters and any byte of a multi-byte
// UTF-8 character (é, ü, ...).
bool IsWordByte(char c)
{
    return IsAsciiLetter(c) || static_cast<unsigned char>(c) >= 0x80;
}

// ASCII and Latin-1 capitals made small and a no-break space made blanks,
// keeping every byte's offset, so that "TÉL&nbsp;" reads as "tél  ".
std::string FoldCase(std::string_view text)
{
    std::string folded(text);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        char &c = folded[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (static_cast<unsigned char>(c) == 0xc2 && i + 1 < folded.size() &&
                   static_cast<unsigned char>(folded[i + 1]) == 0xa0) {
            folded[i] = ' ';
            folded[++i] = ' ';
        } else if (static_cast<unsigned char>(c) == 0xc3 && i + 1 < folded.size()) {
            const auto next = static_cast<unsigned char>(folded[i + 1]);
            if (next >= 0x80 && next <= 0x9e && next != 0x97)
                folded[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return folded;
}

// The text the matcher gets: ASCII only (it refuses a whole text over one
// bad byte), each other character one blank, a Unicode dash "-".
std::string MatcherText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out += byte < 0x20 ? ' ' : static_cast<char>(byte);
            continue;
        }
        if (byte < 0xc0)
            continue;   // a continuation byte: its character is already written
        // U+2010..U+2015 (hyphens and dashes) and U+2212 (minus).
        const bool dash = byte == 0xe2 && i + 2 < text.size() &&
                          ((static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                            static_cast<unsigned char>(text[i + 2]) >= 0x90 &&
                            static_cast<unsigned char>(text[i + 2]) <= 0x95) ||
                           (static_cast<unsigned char>(text[i + 1]) == 0x88 &&
                            static_cast<unsigned char>(text[i + 2]) == 0x92));
        out += dash ? '-' : ' ';
    }
    return out;
}

// The number as written when it reads as one, else its international form.
std::optional<std::string> WrittenForm(const std::string &raw, const PhoneNumber &number)
{
    if (std::optional<std::string> written = NormalisePhoneNumber(raw))
        return written;
    PhoneNumber bare = number;
    bare.clear_extension();
    std::string international;
    Util().Format(bare, PhoneNumberUtil::INTERNATIONAL, &international);
    return NormalisePhoneNumber(international);
}

// Whether the matcher ran: a snippet with too few digits for any number
// does not cost it anything.
bool Match(std::string_view snippet, const std::string &region, std::vector<FoundPhone> &found)
{
    const std::string text = MatcherText(snippet.substr(0, kMaxPhoneSnippetLength));
    if (static_cast<std::size_t>(std::count_if(text.begin(), text.end(), IsDigit)) < kMinPhoneDigits)
        return false;
    PhoneNumberMatcher matcher(Util(), text, region.empty() ? kUnknownRegion : region, PhoneNumberMatcher::VALID,
                               kMaxMatcherTries);
    for (std::size_t taken = 0; taken < kMaxNumbersPerSnippet && matcher.HasNext(); ++taken) {
        PhoneNumberMatch match;
        if (!matcher.Next(&match))
            break;
        std::string e164;
        Util().Format(match.number(), PhoneNumberUtil::E164, &e164);
        const std::optional<std::string> written = WrittenForm(match.raw_string(), match.number());
        if (!written)
            continue;
        if (std::none_of(found.begin(), found.end(), [&](const FoundPhone &seen) { return seen.e164 == e164; }))
            found.push_back({*written, e164});
    }
    return true;
}

struct Label {
    std::string_view word;   // folded
    bool needsStop;          // only with "." or ":" right after ("T: ...")
};

constexpr std::array<Label, 27> kPhoneLabels = {{
    {"tel", false}, {"tél", false}, {"telefon", false}, {"telephone", false}, {"téléphone", false},
    {"telefone", false}, {"telefono", false}, {"teléfono", false}, {"telefoon", false}, {"phone", false},
    {"fon", false}, {"mobil", false}, {"mobile", false}, {"móvil", false}, {"handy", false},
    {"cell", false}, {"cellulare", false}, {"portable", false}, {"hotline", false}, {"call us", false},
    {"call", false}, {"ring us", false}, {"tlf", false}, {"ph", true}, {"t", true},
    {"m", true}, {"phone number", false},
}};

constexpr std::array<std::string_view, 5> kFaxLabels = {"fax", "telefax", "téléfax", "facsimile", "f"};

bool WordAt(std::string_view folded, std::size_t at, std::string_view word)
{
    if (folded.compare(at, word.size(), word) != 0)
        return false;
    const std::size_t end = at + word.size();
    return (at == 0 || !IsWordByte(folded[at - 1])) && (end == folded.size() || !IsWordByte(folded[end]));
}

// The end of a phone label starting at position at, or 0 when none does.
std::size_t PhoneLabelEnd(std::string_view folded, std::size_t at)
{
    std::size_t best = 0;
    for (const Label &label : kPhoneLabels) {
        if (label.word.front() != folded[at] || !WordAt(folded, at, label.word))
            continue;
        const std::size_t end = at + label.word.size();
        if (label.needsStop && (end == folded.size() || (folded[end] != '.' && folded[end] != ':')))
            continue;
        best = std::max(best, end);
    }
    return best;
}

bool FaxLabelAt(std::string_view folded, std::size_t at)
{
    if (folded[at] != 'f' && folded[at] != 't')
        return false;
    return std::any_of(kFaxLabels.begin(), kFaxLabels.end(), [&](std::string_view word) {
        // A lone "f" is a fax label only as "F:" or "F.".
        return WordAt(folded, at, word) &&
               (word.size() > 1 || (at + 1 < folded.size() && (folded[at + 1] == ':' || folded[at + 1] == '.')));
    });
}

// What follows a label up to the end of the line holding the first digit,
// a fax label after a digit, or kMaxPhoneSnippetLength bytes.
std::size_t SnippetEnd(std::string_view folded, std::size_t start)
{
    const std::size_t limit = std::min(folded.size(), start + kMaxPhoneSnippetLength);
    bool digit = false;
    for (std::size_t i = start; i < limit; ++i) {
        const char c = folded[i];
        if (IsDigit(c))
            digit = true;
        else if (digit && (c == '\n' || c == '\r'))
            return i;
        else if (digit && FaxLabelAt(folded, i))
            return i;
    }
    return limit;
}

bool IsRegion(const std::string &region)
{
    return region.size() == 2 && Util().GetCountryCodeForRegion(region) != 0;
}

std::string UpperRegion(std::string_view code)
{
    std::string region;
    for (char c : code)
        region += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    // The United Kingdom's domain and a common language-tag slip.
    return region == "UK" ? "GB" : region;
}

} // namespace

std::string PhoneRegion(std::string_view languageTag, std::string_view host)
{
    // "de-AT", "zh-Hant-TW", "en_GB": the region is the two-letter subtag
    // after the language.
    std::size_t start = languageTag.find_first_of("-_");
    while (start != std::string_view::npos) {
        const std::size_t end = std::min(languageTag.find_first_of("-_", start + 1), languageTag.size());
        const std::string_view subtag = languageTag.substr(start + 1, end - start - 1);
        if (subtag.size() == 2 && IsAsciiLetter(subtag[0]) && IsAsciiLetter(subtag[1])) {
            const std::string region = UpperRegion(subtag);
            if (IsRegion(region))
                return region;
            break;
        }
        start = end < languageTag.size() ? end : std::string_view::npos;
    }

    static constexpr std::array<std::string_view, 12> kGenericDomains = {
        "io", "co", "me", "tv", "ai", "fm", "cc", "ws", "to", "ly", "gg", "am"};
    const std::size_t dot = host.rfind('.');
    const std::string_view tld = dot == std::string_view::npos ? std::string_view() : host.substr(dot + 1);
    if (tld.size() != 2 || !IsAsciiLetter(tld[0]) || !IsAsciiLetter(tld[1]) ||
        std::find(kGenericDomains.begin(), kGenericDomains.end(), FoldCase(tld)) != kGenericDomains.end())
        return {};
    const std::string region = UpperRegion(tld);
    return IsRegion(region) ? region : std::string();
}

std::vector<FoundPhone> FindLabelledPhoneNumbers(std::string_view text, const std::string &region)
{
    std::vector<FoundPhone> found;
    const std::string folded = FoldCase(text);
    std::size_t snippets = 0;
    std::size_t labels = 0;
    std::size_t at = 0;
    while (at < folded.size() && snippets < kMaxPhoneSnippets && labels < kMaxPhoneLabels) {
        // Labels start a word.
        if (!IsAsciiLetter(folded[at]) || (at > 0 && IsWordByte(folded[at - 1]))) {
            ++at;
            continue;
        }
        const std::size_t labelEnd = PhoneLabelEnd(folded, at);
        if (labelEnd == 0) {
            ++at;
            continue;
        }
        ++labels;
        const std::size_t end = SnippetEnd(folded, labelEnd);
        if (Match(std::string_view(text).substr(labelEnd, end - labelEnd), region, found))
            ++snippets;
        at = labelEnd;
    }
    return found;
}

std::vector<FoundPhone> FindPhoneNumbers(std::string_view snippet, const std::string &region)
{
    std::vector<FoundPhone> found;
    Match(snippet, region, found);
    return found;
}

std::string PhoneE164(std::string_view number, const std::string &region)
{
    PhoneNumber parsed;
    const std::string text = MatcherText(number.substr(0, kMaxPhoneSnippetLength));
    if (Util().Parse(text, region.empty() ? kUnknownRegion : region, &parsed) != PhoneNumberUtil::NO_PARSING_ERROR)
        return {};
    std::string e164;
    Util().Format(parsed, PhoneNumberUtil::E164, &e164);
    return e164;
}

} // namespace kelvora::directory::facts
