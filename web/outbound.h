#pragma once

#include "web/hooks.h"

#include <cstdint>
#include <string>

namespace kelvora {

// Fetches "http://" + host (exactly as passed, port 80), pumps once and counts
// its outbound anchors (CountOutboundAnchors). An empty host gives 0 without
// a request or a pump. Never throws: a failed fetch counts what arrived.
std::int32_t CountOutboundLinks(const std::string &host, const PageHooks &hooks);

// Number of anchor tags, from "<a " (any letter case) up to and including the
// first ">" after it, that hold "http://", "https://" or "www." anywhere in
// the tag. The next anchor is looked for from the ">" that closed the previous
// one; an "<a " that is never closed ends the count. Linear in the page.
std::int32_t CountOutboundAnchors(const std::string &page);

// The "Agreement Estimation" cell: a decimal integer text from 0 to 100, the
// sum of three parts, each saturating so that no input can overflow it:
//   popularity: 10 per decimal digit of the backlink total (0 when <= 0), at most 50;
//   outbound:   one per outbound link (0 when <= 0), at most 25;
//   rank:       27 - rank counter (the row's rank + 1, so the first row scores 25), from 0 to 25.
std::string EstimateAgreement(std::int32_t popularity, std::int32_t outbound, std::int32_t rank);

} // namespace kelvora
