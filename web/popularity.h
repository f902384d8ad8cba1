#pragma once

#include "web/hooks.h"

#include <string>

namespace kelvora {

// How many pages the search engine knows that link to host: the total that
// the engine's backlink results page states after "of about", as a digit
// text ("1,230" comes back as "1230"). "0" when the page states no total;
// the empty text only when an error escaped the lookup (memory exhausted or a
// hook threw). Sets the status text to host, then pumps three times: after
// the status text, after the fetch and at the end. One request per call,
// sent to BacklinkSearchUrl(host) on port 80.
std::string GetLinkPopularity(const std::string &host, const PageHooks &hooks);

// The page part of GetLinkPopularity: within the 300 characters from the
// first "of about" (any letter case), the text strictly between the first ">"
// and the first "</", without commas, full stops and blanks; "0" when there
// is no such text. Never throws except std::bad_alloc.
std::string ReadLinkPopularity(const std::string &page);

} // namespace kelvora
