#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The "facts" sub-commands of kelvora-directory:
//   facts import SOURCE FILE... [--facts FACTS.db] (the sources and the
//       files each wants: FactsSources() in sources.h)
//   facts status [--facts FACTS.db] [--stale-after DAYS]
// ("facts update" needs the network code and has its own entry,
// facts_update.h.)
namespace kelvora::directory::facts {

// arguments are those after "facts". Progress and the summary go to out,
// errors to err, one line each. Returns the exit code: 0, 1 for a failure
// (the facts are then unchanged), 2 for a usage error.
int RunFactsCommand(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err);

} // namespace kelvora::directory::facts
