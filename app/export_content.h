#pragma once

#include "app/export_table.h"
#include "app/partner_contacts.h"
#include "app/results_table.h"

#include <QStringList>

#include <vector>

namespace kelvora {

// The results table as exported: the column captions and "Ticked", then per
// row the caption, the six cells and "yes" or "no". Rank, popularity, traffic
// rank and agreement are the numeric columns.
ExportTable ResultsExportTable(const QStringList &captions, const std::vector<ResultRow> &rows);

// The partner list as exported: per partner its address and the contact lines
// "Get Data" read for it, one column per line, under the header "Website URL",
// "Contact line 1", "Contact line 2", ... as far as the longest partner goes.
ExportTable PartnersExportTable(const QStringList &partners, const PartnerContacts &contacts);

} // namespace kelvora
