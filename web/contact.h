#pragma once

#include "web/hooks.h"

#include <string>
#include <vector>

namespace kelvora {

// The partner pane text for partner (the text typed or picked in Step 2):
// fetches the partner's details page from the traffic-rank service
// (TrafficPageUrl), pumps once, and formats it with FormatContactData for
// BareHost(partner). Never throws.
std::string FetchContactData(const std::string &partner, const PageHooks &hooks);

// One "Get Data" reading: the pane text as FetchContactData gives it, and the
// lines of the page's contact block on their own (decoded and trimmed as in
// the pane; empty when the page had no contact block or the fetch failed).
struct ContactData {
    std::string paneText;
    std::vector<std::string> lines;
};
ContactData FetchContact(const std::string &partner, const PageHooks &hooks);

// The pane text for host from its details page. Lines are joined by CR LF,
// with no line break at the end:
//   "Website: " host
//   the contact block: the page's text between "<!--contact-->" and
//     "<!--/contact-->" (markers in any letter case, text in its own), every
//     tag and line break starting a new line, &amp; &lt; &gt; &quot; &#39;
//     decoded once, lines trimmed, blank lines dropped
//   an empty line, then the competitor summary of the page (CompetitorSummary).
// A page without a contact block gives "No contact data found for " host "."
std::string FormatContactData(const std::string &host, const std::string &page);

// File name proposed for saving the pane: BareHost(partner) up to its first
// "." followed by ".txt" (".txt" alone when it holds no ".").
std::string ContactFileName(const std::string &partner);

// The competitor summary of paneText, read lower-cased with every CR LF pair
// removed: "Competitor:" CR LF competitor CR LF CR LF "Since:" CR LF
// online-since CR LF CR LF "Ranking:" CR LF traffic rank. The readers' own
// fall-backs fill a value they cannot find.
std::string CompetitorSummary(const std::string &paneText, const PageHooks &hooks = {});

} // namespace kelvora
