#include "app/partner_contacts.h"

#include "web/text.h"

#include <utility>

namespace kelvora {

void PartnerContacts::Remember(const std::string &partner, std::vector<std::string> lines)
{
    if (lines.empty())
        return;
    m_lines[BareHost(partner)] = std::move(lines);
}

const std::vector<std::string> &PartnerContacts::LinesFor(const std::string &partner) const
{
    static const std::vector<std::string> none;
    const auto found = m_lines.find(BareHost(partner));
    return found == m_lines.end() ? none : found->second;
}

} // namespace kelvora
