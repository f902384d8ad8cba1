#pragma once

#include "app/export_table.h"
#include "app/partner_contacts.h"
#include "app/results_table.h"

#include <QStringList>

#include <vector>

namespace kelvora {

// The results table as exported: the columns' captions and "Ticked", then per
// row its text in every column and "yes" or "no". The columns whose values
// are numbers are numeric in a workbook.
ExportTable ResultsExportTable(const std::vector<ResultRow> &rows);

// The partner list as exported: per partner its address and the contact lines
// "Get Data" read for it, one column per line, under the header "Website URL",
// "Contact line 1", "Contact line 2", ... as far as the longest partner goes.
ExportTable PartnersExportTable(const QStringList &partners, const PartnerContacts &contacts);

} // namespace kelvora
