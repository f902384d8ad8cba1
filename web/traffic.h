#pragma once

#include "web/hooks.h"

#include <string>

namespace kelvora {

// "http://" TrafficHost() "/data/details/?url=www." BareHost(host): the
// details page of host, its query value sent unencoded.
std::string TrafficPageUrl(const std::string &host);

// Fetches TrafficPageUrl(host) on port 80, pumps once, and returns the page
// lower-cased with every CR LF pair removed: the traffic page the three
// readers below take. An error raised before the normalisation (only
// std::bad_alloc) is passed on after the pump; the fetch itself never fails.
std::string FetchTrafficPage(const std::string &host, const PageHooks &hooks);

// Every digit that directly follows a ">" between "traffic rank for " and the
// first "<br>" after it (the page from its start when the marker is absent),
// in page order; "999999999" when there is none. Reads in any letter case.
// Pumps once at its start. Never throws.
std::string ParseTrafficRank(const std::string &page, const PageHooks &hooks);

// The first related site: after "people who visit this page also visit:",
// within the first "</li>", the text between "<span class=\"smallg\">" and
// "</span". Expects lower-case text. The empty text when there is none or it
// says "there are no related". Pumps once at its start. Never throws.
std::string ParseCompetitor(const std::string &page, const PageHooks &hooks);

// The date the site went online: the text after "online since:" (any letter
// case) up to the next "<", skipping blanks and inline tags (<b>, </span>, ...)
// that directly follow the marker; trimmed and at most 40 characters. Only the
// marker's own line counts: a line-ending tag (<br>, <p>, </td>, </li>, <div>,
// ..., in any case) before the text means there is no date. The empty text when
// absent. Never throws.
std::string ParseOnlineSince(const std::string &page);

} // namespace kelvora
