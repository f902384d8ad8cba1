#pragma once

#include "web/hooks.h"

#include <string>

namespace kelvora {

// The response body for url (port 80 unless the URL names one): empty when
// nothing arrived, partial when the transfer broke off, the error page for an
// error status. Pumps once before returning, also after a failure. Never
// throws.
std::string FetchPage(const std::string &url, const PageHooks &hooks);

// The text between the first "<title>" and the first "</title>" (found in any
// letter case; the text keeps its own), with every CR LF pair removed and
// entities left as they are. Without "<title>" the text runs from the page's
// 7th character; "</title>" missing or not after the start tag gives the
// empty text. Never throws.
std::string ExtractTitle(const std::string &page);

} // namespace kelvora
