#include "directory/live/language.h"

#include <cstdlib>

#include "text/text.h"

namespace kelvora::directory::live {

namespace {

// ISO 639 codes have two or three letters.
bool IsLanguageCode(std::string_view text)
{
    if (text.size() < 2 || text.size() > 3)
        return false;
    for (char c : text) {
        if (!IsAsciiLetter(c))
            return false;
    }
    return true;
}

// ISO 3166 letters or a UN M.49 area number.
bool IsRegionCode(std::string_view text)
{
    if (text.size() == 2)
        return IsAsciiLetter(text[0]) && IsAsciiLetter(text[1]);
    if (text.size() == 3)
        return text.find_first_not_of("0123456789") == std::string_view::npos;
    return false;
}

} // namespace

std::string AcceptLanguageFor(std::string_view locale)
{
    // language[_territory][.codeset][@modifier]
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t underscore = locale.find('_');
    const std::string_view languagePart = locale.substr(0, underscore);
    const std::string_view regionPart =
        underscore == std::string_view::npos ? std::string_view() : locale.substr(underscore + 1);
    if (!IsLanguageCode(languagePart) || (!regionPart.empty() && !IsRegionCode(regionPart)))
        return std::string(kFallbackLanguage);

    std::string language;
    for (char c : languagePart)
        language += LowerAscii(c);
    std::string value = language;
    if (!regionPart.empty()) {
        value += '-';
        for (char c : regionPart)
            value += UpperAscii(c);
        value += "," + language + ";q=0.9";
    }
    if (language != kFallbackLanguage)
        value += "," + std::string(kFallbackLanguage) + ";q=0.5";
    return value;
}

std::string UserLocale()
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

} // namespace kelvora::directory::live
