#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Facts databases for gateway tests and benchmarks, written through the
// importers' own writer into a temporary folder.
namespace kelvora::live::testing {

struct SiteFigures {
    std::string host;
    std::optional<std::int64_t> popularity;   // Majestic RefSubNets
    std::optional<std::int64_t> rank;         // Tranco rank
};

// The path of a new facts database holding figures, and for each target the
// linking domains of the domain graph (most popular first).
std::string MakeFactsDatabase(const std::vector<SiteFigures> &figures,
                              const std::map<std::string, std::vector<std::string>> &links = {});

} // namespace kelvora::live::testing
