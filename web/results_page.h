#pragma once

#include <string>
#include <string_view>

namespace kelvora {

// Cuts the first result entry off page (the harvest's lower-cased results
// page) and returns its display address in host, lower-cased and without
// "http://"/"https://": the text of the entry's "<em ...>" element after its
// first ">", kept only when it has at least 3 characters and a "."; otherwise
// host is empty. The check comes before the scheme is removed, so
// "http://." gives ".". page then starts at the next "<li>", or is the rest after the
// cut entry's "<li>" when there is none. An empty page stays empty.
void NextResultHost(std::string &page, std::string &host);

// A keyword's bytes (UTF-8, as the engine is told with ei=UTF-8) for a query
// value: A-Z a-z 0-9 - . _ ~ as they are, a blank as "+", every other byte as
// %XX in upper-case hex, so "&", "#", "%" and "+" in a keyword stay part of it.
std::string EncodeKeyword(std::string_view keyword);
// Keyword search: "http://" SearchHost() "/search?p=%22" EncodeKeyword(query)
// "%22&ei=UTF-8&n=" count "&b=" (offset + 1).
std::string KeywordSearchUrl(const std::string &query, int count, int offset);
// Domain search: the engine's backlink query for query (BacklinkSearchUrl).
std::string DomainSearchUrl(const std::string &query);

} // namespace kelvora
