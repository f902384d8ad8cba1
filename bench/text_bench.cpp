// The text helpers on whole pages, each beside the plain loop the standard
// library offers for the same job (std::string::find plus append, exact case,
// one pass): the closing table gives each case's speed as a share of its
// plain loop's, 1.0 being as fast.
#include "web/text.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

// The reference: every exact occurrence replaced in one left-to-right pass.
std::string plainReplace(const std::string &text, const std::string &pattern, const std::string &replacement)
{
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t found; (found = text.find(pattern, from)) != std::string::npos; from = found + pattern.size())
        out.append(text, from, found - from).append(replacement);
    out.append(text, from, std::string::npos);
    return out;
}

struct Replacement {
    const char *name;
    std::string pattern;
    std::string replacement;
};

// "</noscript" finds nothing: the common case on most pages.
const std::vector<Replacement> kReplacements = {
    {"removeCrLf", "\r\n", ""},
    {"replaceFoldingCase", "www.", ""},
    {"encodeBlanks", " ", "%20"},
    {"searchWithoutMatch", "</noscript", ""},
};

void library(benchmark::State &state, const Replacement &job)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = kelvora::ReplaceAllIgnoreCase(page, job.pattern, job.replacement);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void plain(benchmark::State &state, const Replacement &job)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string result = plainReplace(page, job.pattern, job.replacement);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// A case-free search through a whole page that does not hold the pattern,
// beside an exact std::string_view::find.
void findIgnoringCase(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvora::FindIgnoreCase(page, "Traffic Rank for "));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void plainFind(benchmark::State &state)
{
    const std::string page = makePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(std::string_view(page).find("traffic rank for "));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Collects each run's time so the shares can be printed after the table.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            m_seconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }

    void printShares() const
    {
        std::printf("\nshare of the plain loop's speed (plain CPU time / library CPU time; 1.0 = as fast):\n");
        for (const auto &[name, seconds] : m_seconds) {
            if (name.rfind("library/", 0) != 0 && name.rfind("findIgnoringCase/", 0) != 0)
                continue;
            const std::string suffix = name.substr(name.find('/'));
            const std::string reference = (name.rfind("library/", 0) == 0 ? "plain" : "plainFind") + suffix;
            const auto found = m_seconds.find(reference);
            if (found != m_seconds.end() && seconds > 0)
                std::printf("  %-48s %6.2f\n", name.c_str(), found->second / seconds);
        }
    }

private:
    std::map<std::string, double> m_seconds;
};

constexpr int64_t kOneMegabyte = 1000 * 1000;

} // namespace

int main(int argc, char **argv)
{
    for (const Replacement &job : kReplacements) {
        for (auto *kind : {&library, &plain}) {
            const std::string name = std::string(kind == &library ? "library/" : "plain/") + job.name;
            benchmark::RegisterBenchmark(name.c_str(), kind, job)
                ->Arg(kOneMegabyte)
                ->Arg(10 * kOneMegabyte)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("findIgnoringCase/page", findIgnoringCase)
        ->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("plainFind/page", plainFind)->Arg(10 * kOneMegabyte)->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printShares();
    benchmark::Shutdown();
    return 0;
}
