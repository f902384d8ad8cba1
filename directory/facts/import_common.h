#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "directory/facts/importers.h"

// Pieces the importers share; not part of the facts library's contract.
namespace kelvora::directory::facts::detail {

// Writes a progress line when the interval has passed. The clock is read
// once every kCheckEvery lines, which keeps it out of the per-line cost.
class ProgressMeter final {
public:
    ProgressMeter(const ImportOptions &options, std::string label);
    void Tick(std::uint64_t lines, std::uint64_t bytes)
    {
        if ((lines & (kCheckEvery - 1)) == 0)
            Check(lines, bytes);
    }

private:
    static constexpr std::uint64_t kCheckEvery = 1024;
    void Check(std::uint64_t lines, std::uint64_t bytes);

    const ImportOptions &m_options;
    std::string m_label;
    std::chrono::steady_clock::time_point m_last;
};

// The index-th field of line split at separator (index 0 first); false when
// the line has fewer fields.
bool Field(std::string_view line, char separator, std::size_t index, std::string_view &field);

// A plain decimal number in [minimum, kMaxFactValue] (larger ones become
// kMaxFactValue); -1 when text is anything else.
std::int64_t ParseValue(std::string_view text, std::int64_t minimum);

// "1234567" → "1,234,567" for reports.
std::string Grouped(std::uint64_t value);

} // namespace kelvora::directory::facts::detail
