#pragma once

#include <cstddef>
#include <istream>
#include <vector>

#include "directory/local/dataset.h"

// Sites from a Debian package catalogue (the stanzas `apt-cache dumpavail`
// prints): one site per distinct Homepage host. Its main package is the one
// whose homepage is the host's shortest address; title and description come
// from the packages' descriptions, keywords from their sections, tags and
// names, the contact from the main package's Maintainer, and the outbound
// links from the homepages of the packages they depend on or recommend. The
// catalogue says nothing about when a site went online, so that stays unknown.
namespace kelvora::directory {

struct DebianSummary {
    std::size_t packages = 0;        // distinct package names read
    std::size_t withHomepage = 0;
};

// Longest stanza line accepted; longer ones are cut (no real field is near).
constexpr std::size_t kMaxStanzaLine = 1 << 20;
// Packages of a host named in its description; the rest are counted.
constexpr std::size_t kMaxPackagesListed = 12;

std::vector<SiteInput> ReadDebianSites(std::istream &in, DebianSummary &summary);

} // namespace kelvora::directory
