#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "directory/local/dataset.h"

// Traffic ranks from public rankings, streamed line by line so that files of
// any length can be read:
//  - Tranco lists: "RANK,DOMAIN" per line;
//  - Common Crawl web-graph host ranks: tab-separated columns
//    #harmonicc_pos #harmonicc_val #pr_pos #pr_val #host_rev, the host name
//    reversed (com.example.www); the harmonic-centrality position is the rank.
// Lines that do not fit (headers, comments, blanks) are counted and skipped.
namespace kelvora::directory {

// Longest line considered; longer ones are skipped as malformed.
constexpr std::size_t kMaxRankLine = 4096;

struct RankReadSummary {
    std::size_t lines = 0;
    std::size_t malformed = 0;
};

RankReadSummary ReadTrancoRanks(std::istream &in, RankUpdate &update);
RankReadSummary ReadHostRanks(std::istream &in, RankUpdate &update);

// "com.example.www" → "www.example.com".
std::string UnreverseHost(std::string_view reversed);

} // namespace kelvora::directory
