#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "directory/facts/facts_db.h"

// "facts status": what each source of the facts database holds, and whether
// the open lists are due for an update.
//   facts status [--facts FACTS.db] [--stale-after DAYS]
namespace kelvora::directory::facts {

// Exit code of "facts status --stale-after" when an update is due.
constexpr int kExitStale = 3;

// "2026-12-09T21:40:05Z" for a record's update time.
std::string RecordTime(std::chrono::system_clock::time_point time);

// Why the lists of records (as ReadListRecords gives them) are due for an
// update on day today: a list "facts update" fetches by default (Tranco,
// Majestic) missing, or dated (by the list's date, else the import's) more
// than days before today. nullopt when none is.
std::optional<std::string> StaleReason(const std::vector<std::pair<Source, ListRecord>> &records,
                                       std::chrono::system_clock::time_point today, int days);

// arguments are those after "status". Without --stale-after: one line per
// source, exit 0. With it: nothing and exit 0 when the lists are fresh,
// else one line saying why and kExitStale. 1 for a damaged database, 2 for
// a usage error.
int RunFactsStatus(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err);

} // namespace kelvora::directory::facts
