#pragma once

#include <string>

namespace kelvora {

// Host (optionally "host:port") of the search engine, written right after
// "http://". Taken from KELVORA_SEARCH_HOST at each call; an unset or empty
// variable gives the local directory service "127.0.0.1:8355".
std::string SearchHost();
// Host of the traffic-rank service, from KELVORA_TRAFFIC_HOST, with the same
// default as SearchHost().
std::string TrafficHost();

// Percent-encodes a search query value the way the engine's backlink query
// expects: every " " becomes "%20", then every ":" "%3A", then every "/"
// "%2F". Nothing else is encoded ("%", "&", "?", "#", "+" and "=" go out as
// they are).
std::string EncodeQueryValue(std::string value);
// The engine's backlink query for target: "http://" SearchHost() "/search?p="
// followed by the encoded "link:http://" + target. Shared by the link
// popularity and the domain search.
std::string BacklinkSearchUrl(const std::string &target);

} // namespace kelvora
