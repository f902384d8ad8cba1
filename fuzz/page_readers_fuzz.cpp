// Page readers: input = host (ended by "\ "), then the page; three 32-bit
// figures for the agreement estimate are taken from the input's end.
#include "fuzz/fuzz_check.h"
#include "web/contact.h"
#include "web/outbound.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"
#include "web/title.h"
#include "web/traffic.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

using kelvora::fuzz::Require;

namespace {

constexpr std::size_t kMaxHostLength = 128;

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool allDigits(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), kelvora::IsDigit);
}

std::size_t countAnchorStarts(const std::string &page)
{
    const std::string lower = kelvora::LowerCase(page);
    std::size_t count = 0;
    for (std::size_t at = lower.find("<a "); at != std::string::npos; at = lower.find("<a ", at + 1))
        ++count;
    return count;
}

void checkReaders(const std::string &page)
{
    const kelvora::PageHooks hooks;
    const std::string lower = kelvora::LowerCase(page);

    const std::string popularity = kelvora::ReadLinkPopularity(page);
    Require(!popularity.empty(), "ReadLinkPopularity always gives a text");
    Require(popularity.find_first_of(",. ") == std::string::npos, "ReadLinkPopularity strips , . and blanks");

    Require(allDigits(kelvora::ParseTrafficRank(page, hooks)), "ParseTrafficRank gives digits only");
    Require(allDigits(kelvora::ParseTrafficRank(lower, hooks)), "ParseTrafficRank gives digits only");
    // The readers search without case: the page's letter case changes no figure.
    Require(kelvora::ParseTrafficRank(page, hooks) == kelvora::ParseTrafficRank(lower, hooks),
            "ParseTrafficRank ignores letter case");
    Require(popularity == kelvora::ReadLinkPopularity(lower), "ReadLinkPopularity ignores letter case");
    Require(kelvora::CountOutboundAnchors(page) == kelvora::CountOutboundAnchors(lower),
            "CountOutboundAnchors ignores letter case");
    Require(kelvora::ParseCompetitor(lower, hooks).size() <= page.size(), "ParseCompetitor is part of the page");

    const std::string since = kelvora::ParseOnlineSince(page);
    Require(since.size() <= 40, "ParseOnlineSince is at most 40 characters");
    Require(since.find('<') == std::string::npos, "ParseOnlineSince stops at a tag");
    Require(since.empty() || (!isBlank(since.front()) && !isBlank(since.back())), "ParseOnlineSince is trimmed");

    const std::int32_t anchors = kelvora::CountOutboundAnchors(page);
    Require(anchors >= 0 && static_cast<std::size_t>(anchors) <= countAnchorStarts(page),
            "CountOutboundAnchors counts only anchor tags");

    const std::string title = kelvora::ExtractTitle(page);
    Require(title.size() <= page.size(), "ExtractTitle is part of the page");
    Require(title.find("\r\n") == std::string::npos, "ExtractTitle holds no CR LF");
}

void checkResultEntries(const std::string &page)
{
    std::string rest = kelvora::LowerCase(page);
    // Each call must consume something, so the harvest loop always ends.
    for (std::size_t round = 0; !rest.empty(); ++round) {
        Require(round <= page.size(), "NextResultHost makes progress");
        const std::size_t before = rest.size();
        std::string host;
        kelvora::NextResultHost(rest, host);
        Require(rest.size() < before, "NextResultHost shortens the page");
        Require(host.empty() || (host.size() >= 3 && host.find('.') != std::string::npos),
                "NextResultHost keeps only hosts with 3 characters and a '.'");
        Require(std::none_of(host.begin(), host.end(), isUpper), "NextResultHost is lower-case");
        const std::string clean = kelvora::CleanResultHost(host);
        Require(clean.find_first_of("<>") == std::string::npos, "CleanResultHost has no '<' or '>'");
    }
}

void checkContact(const std::string &host, const std::string &page)
{
    const std::string text = kelvora::FormatContactData(host, page);
    const std::string missing = "No contact data found for " + host + ".";
    Require(text == missing || text.starts_with("Website: " + host + "\r\n"), "FormatContactData starts with the host");
    Require(!text.ends_with("\r\n"), "FormatContactData has no line break at its end");
    Require(kelvora::CompetitorSummary(page).starts_with("Competitor:\r\n"), "CompetitorSummary has its headings");
    Require(kelvora::ContactFileName(host).ends_with(".txt"), "ContactFileName ends with .txt");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string host = input.ConsumeRandomLengthString(kMaxHostLength);
    const auto popularity = input.ConsumeIntegral<std::int32_t>();
    const auto outbound = input.ConsumeIntegral<std::int32_t>();
    const auto rank = input.ConsumeIntegral<std::int32_t>();
    const std::string page = input.ConsumeRemainingBytesAsString();

    checkReaders(page);
    checkResultEntries(page);
    checkContact(host, page);

    const std::string estimate = kelvora::EstimateAgreement(popularity, outbound, rank);
    Require(allDigits(estimate) && estimate.size() <= 3 && std::stoi(estimate) <= 100,
            "EstimateAgreement is a number from 0 to 100");
    return 0;
}
