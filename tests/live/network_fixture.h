#pragma once

#include <string>
#include <vector>

#include "directory/live/connect_to.h"
#include "directory/live/fetch.h"
#include "directory/live/network.h"
#include "tests/live/fake_upstream.h"

// Driving the network fetcher alone against a fake upstream: what the fetch
// tests and the hostile-upstream tests share.
namespace kelvora::live::testing {

// Parsed --connect-to rules; a text that does not parse fails the test.
std::vector<directory::live::ConnectToRule> Rules(const std::vector<std::string> &texts);

// Every host of fake mapped to it (after rulesFirst), trusting the test CA.
directory::live::NetworkConfig ConfigFor(const FakeUpstream &fake, std::vector<std::string> rulesFirst = {});

directory::live::FetchRequest Get(const std::string &url,
                                  directory::live::SchemeFallback fallback = directory::live::SchemeFallback::None);

// One fetch through network, waited for (a bounded while); an empty result
// and a test failure when no answer comes.
directory::live::FetchResult FetchOnce(directory::live::NetworkFetcher &network,
                                       const directory::live::FetchRequest &request);

} // namespace kelvora::live::testing
