#include "directory/live/idn.h"

#include "text/text.h"

#include <idn2.h>

#include <algorithm>

namespace kelvora::directory::live {

std::optional<std::string> AsciiHostName(std::string_view host)
{
    const bool ascii = std::all_of(host.begin(), host.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    });
    if (ascii)
        return std::string(host);
    // libidn2 reads a C string: a NUL inside would cut the name short.
    if (host.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string name(host);
    char *converted = nullptr;
    if (idn2_to_ascii_8z(name.c_str(), &converted, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT) != IDN2_OK) {
        idn2_free(converted);
        return std::nullopt;
    }
    std::string result = LowerCase(converted);
    idn2_free(converted);
    return result;
}

} // namespace kelvora::directory::live
