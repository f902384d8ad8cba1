#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/facts/contacts.h"

// The open services asked for a site's online-since date and its
// registrar's abuse contact: the Internet Archive's CDX API and RDAP. The
// gateway fetches these addresses (following redirects: rdap.org sends each
// query on to the registry's own server) and hands the answers' bodies here.
// The readers take any bytes and never throw.
namespace kelvora::directory::facts {

// https://web.archive.org/cdx/search/cdx?url=HOST&output=json&fl=timestamp&limit=1
// for a host name (FactsKey(); empty when host gives none).
std::string CdxUrl(std::string_view host);

// https://rdap.org/domain/DOMAIN for the host's registrable domain (empty
// when it has none).
std::string RdapUrl(std::string_view host);

// The date of the first capture as YYYY-MM-DD, from a CDX JSON answer:
// [["timestamp"],["19961019041411"]]. nullopt for no capture ([] or the
// header row alone), an error page, or anything malformed, including a
// timestamp that is no real date.
std::optional<std::string> ReadCdxFirstCapture(std::string_view body);

struct RdapFacts {
    std::optional<std::string> registered;   // YYYY-MM-DD of the "registration" event
    std::vector<ContactItem> abuse;          // RegistrarAbuse items: mail address, then number
};

// Reads an RDAP domain answer: the "registration" event's date, and the
// mail address and telephone number in the vCard of the entity with the
// "abuse" role under the entity with the "registrar" role. Empty facts for
// an error or a malformed answer.
RdapFacts ReadRdap(std::string_view body);

} // namespace kelvora::directory::facts
