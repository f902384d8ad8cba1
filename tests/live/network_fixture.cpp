#include "tests/live/network_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

#include "tests/live/test_pki.h"

namespace kelvora::live::testing {

using namespace directory::live;

namespace {

constexpr auto kFetchWait = std::chrono::seconds(30);

} // namespace

std::vector<ConnectToRule> Rules(const std::vector<std::string> &texts)
{
    std::vector<ConnectToRule> rules;
    for (const std::string &text : texts) {
        std::optional<ConnectToRule> rule = ParseConnectTo(text);
        EXPECT_TRUE(rule) << text;
        if (rule)
            rules.push_back(*rule);
    }
    return rules;
}

NetworkConfig ConfigFor(const FakeUpstream &fake, std::vector<std::string> rulesFirst)
{
    NetworkConfig config;
    for (const std::string &rule : fake.Rules())
        rulesFirst.push_back(rule);
    config.connectTo = Rules(rulesFirst);
    config.extraCaFile = SharedPki().caFile;
    return config;
}

FetchRequest Get(const std::string &url, SchemeFallback fallback)
{
    FetchRequest request;
    request.url = url;
    request.fallback = fallback;
    return request;
}

FetchResult FetchOnce(NetworkFetcher &network, const FetchRequest &request)
{
    auto promise = std::make_shared<std::promise<FetchResult>>();
    std::future<FetchResult> future = promise->get_future();
    network.Start(request, [promise](FetchResult result) { promise->set_value(std::move(result)); });
    if (future.wait_for(kFetchWait) != std::future_status::ready) {
        ADD_FAILURE() << "no answer for " << request.url;
        return {};
    }
    return future.get();
}

} // namespace kelvora::live::testing
