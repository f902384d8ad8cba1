// Engine answers to a results page: input = the search text (ended by "\ "),
// then the engine's JSON; which engine's reader is taken from the input's
// last byte. The page is read back as the program reads it: it must list
// exactly the collected hosts, each a valid host, once, in order, with the
// total stated, and no engine or query text may open a tag of its own.
#include "directory/core/pages.h"
#include "directory/core/query.h"
#include "directory/live/engines.h"
#include "directory/live/listing.h"
#include "directory/live/text.h"
#include "fuzz/fuzz_check.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

using kelvora::fuzz::Require;
namespace live = kelvora::directory::live;
namespace directory = kelvora::directory;

namespace {

constexpr std::size_t kMaxQueryLength = 256;

std::size_t CountOf(const std::string &text, char c)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

live::EngineAnswer Read(std::uint8_t engine, const std::string &json)
{
    const std::span<const live::EngineDescription> engines = live::Engines();
    return engines[engine % engines.size()].readAnswer(json);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string query = input.ConsumeRandomLengthString(kMaxQueryLength);
    const auto engine = input.ConsumeIntegral<std::uint8_t>();
    const std::string json = input.ConsumeRemainingBytesAsString();

    const live::EngineAnswer answer = Read(engine, json);
    Require(answer.ok || answer.entries.empty(), "a refused answer has no entries");
    Require(answer.ok || !answer.error.empty(), "a refused answer says why");

    live::HostCollector collector;
    collector.Add(answer.entries);
    const std::vector<directory::Listing> &listings = collector.Listings();
    std::set<std::string> seen;
    for (const directory::Listing &listing : listings) {
        Require(directory::IsStorableHost(listing.host), "every listed host is a valid host name");
        Require(seen.insert(listing.host).second, "no host is listed twice");
        Require(listing.title.size() <= live::kMaxTitleBytes, "titles are bounded");
        Require(listing.description.size() <= live::kMaxDescriptionBytes, "descriptions are bounded");
    }
    Require(listings.size() <= answer.entries.size(), "no listing without an entry");

    directory::ListingPage page;
    page.total = live::ResultsTotal(answer.total, listings.size());
    page.items = listings;
    const auto shown = static_cast<std::int64_t>(std::max<std::size_t>(listings.size(), 1));
    const std::string html = directory::RenderSearchPage(query, page, 1, shown);

    // The same page with neutral texts has exactly as many "<": no text of
    // the engine or the query added one.
    directory::ListingPage neutral = page;
    for (directory::Listing &listing : neutral.items) {
        listing.title = "t";
        listing.description = "d";
    }
    const std::string skeleton = directory::RenderSearchPage("q", neutral, 1, shown);
    Require(CountOf(html, '<') == CountOf(skeleton, '<'), "no unescaped < from engine or query text");

    // The program's own reading of the page.
    std::string rest = kelvora::LowerCase(html);
    const std::size_t total = rest.find("of about");
    Require(total != std::string::npos, "the page states a total");
    rest = rest.substr(total);
    std::vector<std::string> read;
    while (rest.find("<li>") != std::string::npos && read.size() <= listings.size()) {
        std::string host;
        kelvora::NextResultHost(rest, host);
        read.push_back(kelvora::CleanResultHost(host));
    }
    Require(read.size() == listings.size(), "the program reads one entry per listing");
    for (std::size_t i = 0; i < read.size(); ++i)
        Require(read[i] == listings[i].host, "the program reads each host as listed, in order");
    Require(kelvora::ReadLinkPopularity(html) == std::to_string(page.total), "the program reads the total");
    return 0;
}
