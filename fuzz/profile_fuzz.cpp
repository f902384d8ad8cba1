// Profile files: the input is read as a whole file, and also drives a table of
// sections, keys and values that goes through the writer and back.
#include "fuzz/fuzz_check.h"
#include "platform/profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using kelvora::fuzz::Require;

namespace {

constexpr std::size_t kMaxSections = 8;
constexpr std::size_t kMaxKeys = 8;
constexpr std::size_t kMaxNameLength = 16;
constexpr std::size_t kMaxValueBytes = 3000;
constexpr char kNameAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

std::string lower(std::string text)
{
    for (char &c : text)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return text;
}

std::string nameFrom(FuzzedDataProvider &input, const char *fallback)
{
    std::string name = input.ConsumeRandomLengthString(kMaxNameLength);
    for (char &c : name)
        c = kNameAlphabet[static_cast<unsigned char>(c) % (sizeof(kNameAlphabet) - 1)];
    return name.empty() ? fallback : name;
}

// What the reader gives back for a written value: line breaks as blanks,
// blanks around it dropped, cut to the reading buffer.
std::string expectedValue(const std::string &value)
{
    std::string oneLine;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            ++i;
        oneLine += (value[i] == '\r' || value[i] == '\n') ? ' ' : value[i];
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::size_t begin = 0;
    std::size_t end = oneLine.size();
    while (begin < end && blank(oneLine[begin]))
        ++begin;
    while (end > begin && blank(oneLine[end - 1]))
        --end;
    return oneLine.substr(begin, std::min(end - begin, kelvora::kMaxValueLength));
}

void checkParsedFile(std::string_view bytes)
{
    const kelvora::ProfileFile profile = kelvora::ProfileFile::Parse(bytes);
    std::size_t used = 0;
    for (const std::string &name : profile.SectionNames()) {
        Require(!name.empty(), "no empty section name is listed");
        used += name.size() + 1;
        Require(profile.Value(name, "website").value_or("").size() <= kelvora::kMaxValueLength,
                "values are cut to 2047 characters");
    }
    Require(used < kelvora::kSectionNamesAreaSize, "section names fit the area with its closing zero");
}

void checkRoundTrip(FuzzedDataProvider &input)
{
    kelvora::ProfileWriter writer;
    std::vector<std::string> sectionNames;
    // Lower-cased section -> lower-cased key -> value; the first of each wins.
    std::map<std::string, std::map<std::string, std::string>> expected;
    std::map<std::string, bool> sectionHasKeys;
    const std::size_t sections = input.ConsumeIntegralInRange<std::size_t>(0, kMaxSections);
    for (std::size_t s = 0; s < sections; ++s) {
        const std::string section = nameFrom(input, "item0");
        writer.Section(section);
        sectionNames.push_back(section);
        const bool first = !sectionHasKeys.contains(lower(section));
        const std::size_t keys = input.ConsumeIntegralInRange<std::size_t>(0, kMaxKeys);
        if (first)
            sectionHasKeys[lower(section)] = keys > 0;
        for (std::size_t k = 0; k < keys; ++k) {
            const std::string key = nameFrom(input, "website");
            const std::string value = input.ConsumeRandomLengthString(kMaxValueBytes);
            writer.Key(key, value);
            if (first)
                expected[lower(section)].try_emplace(lower(key), expectedValue(value));
        }
    }

    const kelvora::ProfileFile profile = kelvora::ProfileFile::Parse(writer.Text());
    Require(profile.SectionNames() == sectionNames, "sections read back in file order");
    for (const auto &[section, hasKeys] : sectionHasKeys)
        Require(profile.HasKeys(section) == hasKeys, "a section holds keys exactly when written with some");
    for (const auto &[section, keys] : expected) {
        for (const auto &[key, value] : keys)
            Require(profile.Value(section, key) == value, "a written value reads back");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkParsedFile(std::string_view(reinterpret_cast<const char *>(data), size));
    FuzzedDataProvider input(data, size);
    checkRoundTrip(input);
    return 0;
}
