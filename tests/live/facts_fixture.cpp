#include "tests/live/facts_fixture.h"

#include "directory/facts/domains.h"
#include "directory/facts/facts_db.h"
#include "tests/support/files.h"

namespace kelvora::live::testing {

std::string MakeFactsDatabase(const std::vector<SiteFigures> &figures,
                              const std::map<std::string, std::vector<std::string>> &links)
{
    using directory::facts::Source;
    const std::string path = testsupport::TemporaryFolder() + "/facts.db";
    directory::facts::FactsWriter writer(path);
    writer.Begin({Source::Tranco, Source::Majestic, Source::CcInDegree});
    for (const SiteFigures &site : figures) {
        const std::string key = directory::facts::FactsKey(site.host);
        if (site.popularity)
            writer.Put(Source::Majestic, key, *site.popularity);
        if (site.rank)
            writer.Put(Source::Tranco, key, *site.rank);
    }
    for (const auto &[target, sources] : links)
        writer.PutLinks(directory::facts::FactsKey(target), sources);
    writer.Commit("test figures");
    return path;
}

} // namespace kelvora::live::testing
