#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace kelvora {

// The contact lines "Get Data" read this session, per partner. A partner is
// known by its bare host (BareHost), so "www.Shop.test" typed in the partner
// field and the list item "shop.test" share one entry.
class PartnerContacts {
public:
    // Keeps lines for partner. A reading without lines (no contact block, a
    // failed fetch) keeps what an earlier reading found.
    void Remember(const std::string &partner, std::vector<std::string> lines);
    // The lines last read for partner; empty when none were.
    const std::vector<std::string> &LinesFor(const std::string &partner) const;

private:
    std::unordered_map<std::string, std::vector<std::string>> m_lines;
};

} // namespace kelvora
