#include "web/text.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// An HTML-like page with CR LF line ends and mixed-case addresses.
std::string makePage(std::size_t size)
{
    static const std::string line =
        "<tr><td class=\"x\">Visit WWW.Example.test or www.shop.test for 1,234,567 visitors</td></tr>\r\n";
    std::string page;
    page.reserve(size + line.size());
    while (page.size() < size)
        page += line;
    page.resize(size);
    return page;
}

void removeCrLf(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = kelvora::ReplaceAllIgnoreCase(page, "\r\n", "");
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void replaceFoldingCase(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = kelvora::ReplaceAllIgnoreCase(page, "www.", "");
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void encodeBlanks(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = kelvora::ReplaceAllIgnoreCase(page, " ", "%20");
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Nothing to replace: the common case on most pages.
void searchWithoutMatch(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = kelvora::ReplaceAllIgnoreCase(page, "</noscript", "");
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

constexpr int64_t kOneMegabyte = 1000 * 1000;

} // namespace

BENCHMARK(removeCrLf)->Arg(kOneMegabyte)->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(replaceFoldingCase)->Arg(kOneMegabyte)->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeBlanks)->Arg(kOneMegabyte)->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(searchWithoutMatch)->Arg(kOneMegabyte)->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);
