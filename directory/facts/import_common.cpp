#include "directory/facts/import_common.h"

#include "directory/core/pages.h"

namespace kelvora::directory::facts::detail {

ProgressMeter::ProgressMeter(const ImportOptions &options, std::string label)
    : m_options(options)
    , m_label(std::move(label))
    , m_last(std::chrono::steady_clock::now())
{
}

void ProgressMeter::Check(std::uint64_t lines, std::uint64_t bytes)
{
    if (!m_options.progress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last < m_options.progressInterval)
        return;
    m_last = now;
    constexpr std::uint64_t kMegabyte = 1'000'000;
    m_options.progress(m_label + ": " + Grouped(lines) + " lines (" + Grouped(bytes / kMegabyte) +
                       " MB) read");
}

bool Field(std::string_view line, char separator, std::size_t index, std::string_view &field)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t next = line.find(separator, start);
        if (next == std::string_view::npos)
            return false;
        start = next + 1;
    }
    const std::size_t end = line.find(separator, start);
    field = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    return true;
}

std::int64_t ParseValue(std::string_view text, std::int64_t minimum)
{
    if (text.empty())
        return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        if (value < kMaxFactValue)
            value = value * 10 + (c - '0');
    }
    value = std::min(value, kMaxFactValue);
    return value >= minimum ? value : -1;
}

std::string Grouped(std::uint64_t value)
{
    return FormatThousands(static_cast<std::int64_t>(std::min<std::uint64_t>(value, INT64_MAX)));
}

} // namespace kelvora::directory::facts::detail
