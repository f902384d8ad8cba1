// Settings files: any bytes either fail to parse or parse to values that the
// formatter writes back as plain ASCII and that parse again to the same values.
#include "fuzz/fuzz_check.h"
#include "platform/registry.h"

#include <cstdint>
#include <string>

using kelvora::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::optional<kelvora::RegistryValues> values = kelvora::ParseRegistryText(bytes);
    if (!values)
        return 0;
    const std::string text = kelvora::FormatRegistryText(*values);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        Require(c == '\n' || (byte >= 0x20 && byte < 0x7f), "settings files are plain ASCII");
    }
    Require(kelvora::ParseRegistryText(text) == values, "formatted values parse back unchanged");
    // Every value name is found again in another letter case.
    for (const auto &[name, value] : *values) {
        std::string upper = name;
        for (char &c : upper)
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        Require(values->find(upper) != values->end(), "value names ignore letter case");
    }
    return 0;
}
