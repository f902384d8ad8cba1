#pragma once

#include <QString>

#include <string>

#include "web/http.h"

namespace kelvora {

// Longest service reason the status bar repeats, in characters.
inline constexpr int kMaxServiceReason = 200;

// The status-bar text that ends a search run, from what became of the fetch
// of its results page:
//   - no answer at all (nothing listening, refused, timed out, no address):
//     "Done! The search service at HOST could not be reached.";
//   - a 503 answer: "Done! " and the first line of its body, without control
//     characters and cut to kMaxServiceReason characters (the service says
//     why it could not fill the page; without a reason the status code says it);
//   - any other answer, a page without results included: "Done!".
// searchHost is the host as configured, with its port if one is given.
QString EndOfRunText(const std::string &searchHost, const HttpGetStatus &status, const std::string &page);

} // namespace kelvora
