#include "tests/live/live_rig.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/live/test_pki.h"
#include "tests/support/files.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"

namespace kelvora::live::testing {

using namespace directory::live;

std::string Site(int number)
{
    char host[32];
    std::snprintf(host, sizeof host, "www.site%02d.test", number);
    return host;
}

std::vector<Result> Sites(int first, int last)
{
    std::vector<Result> results;
    for (int i = first; i <= last; ++i)
        results.push_back({"https://" + Site(i) + "/", "Site " + std::to_string(i), "About site " + std::to_string(i)});
    return results;
}

std::vector<std::string> Hosts(int first, int last)
{
    std::vector<std::string> hosts;
    for (int i = first; i <= last; ++i)
        hosts.push_back(Site(i));
    return hosts;
}

HostPacer::Clock TimeFlies()
{
    return [hours = std::make_shared<std::atomic<std::int64_t>>(0)] {
        return std::chrono::steady_clock::time_point(std::chrono::hours(++*hours));
    };
}

EngineChoice Engine(const std::string &text)
{
    std::string error;
    const std::optional<EngineChoice> engine = ParseEngine(text, error);
    EXPECT_TRUE(engine) << error;
    return engine.value_or(EngineChoice{});
}

ProgramView ReadAsTheProgram(const std::string &page)
{
    ProgramView view;
    view.total = kelvora::ReadLinkPopularity(page);
    std::string rest = kelvora::LowerCase(page);
    if (const std::size_t at = rest.find("of about"); at != std::string::npos)
        rest = rest.substr(at);
    while (rest.find("<li>") != std::string::npos) {
        std::string host;
        kelvora::NextResultHost(rest, host);
        view.hosts.push_back(kelvora::CleanResultHost(host));
    }
    return view;
}

Rig::Rig()
    : Rig(Setup{})
{
}

Rig::Rig(Setup setup)
    : m_folder(testsupport::TemporaryFolder())
{
    options.engine = Engine(setup.engine);
    const std::vector<std::string> rules = setup.everyHost ? fake.Rules() : fake.RulesFor(setup.mappedHosts);
    for (const std::string &rule : rules)
        options.connectTo.push_back(*ParseConnectTo(rule));
    options.caFile = SharedPki().caFile;
    options.cacheFile = m_folder + "/web-cache.db";
    options.dataFile = setup.dataFile;
    options.factsFile = setup.factsFile;
    setup.settings.log = [this](const std::string &line) {
        const std::lock_guard lock(m_logMutex);
        m_log.push_back(line);
    };
    if (!setup.settings.clock)
        setup.settings.clock = [this] { return now.load(); };
    if (!setup.settings.pacingClock)
        setup.settings.pacingClock = TimeFlies();
    settings = setup.settings;
    Open();
}

void Rig::Open()
{
    service = std::make_unique<LiveService>(options, settings);
}

std::unique_ptr<testsupport::LoopbackServer> Rig::ReopenOffline()
{
    service.reset();
    auto counter = std::make_unique<testsupport::LoopbackServer>(
        [](const std::string &) { return std::string("HTTP/1.1 500 No\r\nContent-Length: 0\r\n\r\n"); });
    options.connectTo = {*ParseConnectTo("::127.0.0.1:" + std::to_string(counter->port()))};
    options.offline = true;
    Open();
    return counter;
}

directory::Reply Rig::Search(const std::string &query)
{
    return service->Respond("/search", query, "127.0.0.1");
}

directory::Reply Rig::Home(const std::string &host)
{
    return service->Respond("/", "", host);
}

directory::Reply Rig::Details(const std::string &host)
{
    return service->Respond("/data/details/", "url=" + host, "127.0.0.1");
}

std::string Rig::Log() const
{
    const std::lock_guard lock(m_logMutex);
    std::string all;
    for (const std::string &line : m_log)
        all += line + "\n";
    return all;
}

} // namespace kelvora::live::testing
