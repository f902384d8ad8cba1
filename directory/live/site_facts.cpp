#include "directory/live/site_facts.h"

#include <exception>
#include <optional>

#include "directory/core/pages.h"
#include "directory/core/query.h"
#include "directory/facts/competitors.h"
#include "directory/facts/contacts.h"
#include "directory/facts/domains.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/live_pages.h"
#include "directory/facts/upstream.h"
#include "directory/facts/url.h"
#include "directory/live/address.h"
#include "directory/live/gateway.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

using Deadline = std::chrono::steady_clock::time_point;
using Answer = std::shared_future<FetchResult>;

constexpr long kHttpOk = 200;

// The answer when it has come by deadline; null otherwise (also for an
// answer never asked for).
const FetchResult *AnswerBy(const Answer &answer, Deadline deadline)
{
    if (!answer.valid() || answer.wait_until(deadline) != std::future_status::ready)
        return nullptr;
    return &answer.get();
}

const FetchResult *AnswerBy(const std::optional<Answer> &answer, Deadline deadline)
{
    return answer ? AnswerBy(*answer, deadline) : nullptr;
}

// Only a page the server sent as itself is read: an error page, a redirect
// left unfollowed or a "not found" page says nothing about the site.
const FetchResult *Readable(const FetchResult *result)
{
    return result != nullptr && result->Answered() && result->status == kHttpOk ? result : nullptr;
}

// Why an archive or RDAP answer is not there, for the log; empty when there
// is nothing worth saying (read fine, or offline without it).
std::string Trouble(const FetchResult *result)
{
    if (result == nullptr)
        return "no answer in time";
    if (result->outcome == FetchResult::Outcome::NotCached)
        return {};
    if (result->outcome == FetchResult::Outcome::NotKnownYet)
        return "not known yet (waits its turn)";
    if (!result->Answered())
        return result->error;
    if (result->status != kHttpOk && result->status != 404)
        return "HTTP " + std::to_string(result->status);
    return {};
}

// Longest wait on the details page for the home page's fetch to show that
// the site's name leads to a public address, before the archive and RDAP are
// asked about it all the same.
constexpr std::chrono::seconds kAddressCheckWait{3};

bool Refused(const FetchResult *result)
{
    return result != nullptr && result->outcome == FetchResult::Outcome::Refused;
}

FetchRequest JsonRequest(std::string url, const char *accept)
{
    FetchRequest request;
    request.url = std::move(url);
    request.headers.emplace_back(std::string("Accept: ") + accept);
    request.timeToLive = kFactsTimeToLive;
    return request;
}

} // namespace

SiteFacts::SiteFacts(const facts::FactsStore *store, Fetcher &fetcher, SiteFilter mayFetch, Log log)
    : m_store(store)
    , m_fetcher(fetcher)
    , m_mayFetch(std::move(mayFetch))
    , m_log(std::move(log))
    , m_rdap(fetcher, fetcher.Pacer())
{
}

SiteFacts::~SiteFacts()
{
    Stop();
}

void SiteFacts::Stop()
{
    m_readers.Stop();
}

FetchRequest SiteFacts::CdxRequest(std::string_view host)
{
    FetchRequest request = JsonRequest(facts::CdxUrl(host), "application/json");
    // The archive allows a few requests a minute: a capture still waiting
    // its turn is left out now and cached for a later page.
    request.whenHeld = HeldAnswer::NotKnownYet;
    return request;
}

FetchRequest SiteFacts::SecurityTxtRequest(const std::string &host)
{
    // https only: a security.txt fetched over plain http proves nothing.
    FetchRequest request;
    request.url = "https://" + host + "/.well-known/security.txt";
    request.httpsOnly = true;
    request.headers.emplace_back("Accept: text/plain,*/*;q=0.5");
    request.robots = RobotsCheck::Obey;
    request.timeToLive = kPageTimeToLive;
    return request;
}

FetchRequest SiteFacts::ContactPageRequest(const std::string &url)
{
    FetchRequest request;
    request.url = url;
    request.robots = RobotsCheck::Obey;
    request.timeToLive = kPageTimeToLive;
    return request;
}

void SiteFacts::RememberListing(const std::vector<std::string> &hosts)
{
    auto shared = std::make_shared<ListedHosts>();
    shared->hosts = hosts;
    const std::lock_guard lock(m_mutex);
    for (const std::string &host : hosts) {
        std::string key = facts::FactsKey(host);
        if (key.empty())
            continue;
        const std::uint64_t sequence = ++m_sequence;
        m_listings[key] = Listing{host, shared, sequence};
        m_order.emplace_back(std::move(key), sequence);
    }
    // The order holds one entry per remembering; a host remembered again
    // since keeps its newer entry.
    while (m_listings.size() > kMaxRememberedHosts || m_order.size() > 2 * kMaxRememberedHosts) {
        const auto [key, sequence] = m_order.front();
        m_order.pop_front();
        const auto found = m_listings.find(key);
        if (found != m_listings.end() && found->second.sequence == sequence)
            m_listings.erase(found);
    }
}

SiteFacts::Listing SiteFacts::Remembered(const std::string &key) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_listings.find(key);
    return found == m_listings.end() ? Listing{} : found->second;
}

bool SiteFacts::MayAskAbout(const std::string &host) const
{
    return !IsAddressLiteral(host) && m_mayFetch(host);
}

void SiteFacts::WarmOutsideFacts(const std::string &host, const std::string &key, std::uint64_t page)
{
    FetchRequest cdx = CdxRequest(key);
    cdx.page = page;
    m_fetcher.Warm(cdx);
    m_rdap.Warm(key, page);
    FetchRequest securityTxt = SecurityTxtRequest(host);
    securityTxt.page = page;
    m_fetcher.Warm(securityTxt);
}

void SiteFacts::Prefetch(const ListedSite &site)
{
    const std::string key = facts::FactsKey(site.host);
    if (key.empty() || !MayAskAbout(site.host))
        return;
    // The home page's own step has started its fetch; this joins it. Once
    // it shows the name leads to a public address, the archive and RDAP are
    // asked, and the contact pages it names are warmed (a home page fresh in
    // the cache did all that when it came, and the details fetch anything
    // missing). The reading is left to the readers: this may run on the
    // network thread.
    FetchRequest home = LiveGateway::HomePageRequest(site.host);
    home.page = site.page;
    m_fetcher.Warm(home, [this, host = site.host, key, page = site.page](const FetchResult &answer) {
        if (answer.outcome == FetchResult::Outcome::Refused)
            return;
        WarmOutsideFacts(host, key, page);
        if (!Readable(&answer))
            return;
        m_readers.TrySubmit(
            [this, body = answer.body, url = answer.finalUrl, page] { WarmContactPages(body, url, page); });
    });
    if (m_fetcher.Cached(home))
        WarmOutsideFacts(site.host, key, site.page);
}

void SiteFacts::WarmRdapBootstrap()
{
    m_fetcher.Warm(RdapLookup::BootstrapRequest());
}

void SiteFacts::WarmContactPages(const std::string &homePage, const std::string &homeUrl, std::uint64_t page)
{
    for (const std::string &url : m_contacts.Read(homePage, homeUrl)->pages) {
        FetchRequest request = ContactPageRequest(url);
        request.page = page;
        m_fetcher.Warm(request);
    }
}

std::vector<std::string> SiteFacts::Competitors(const std::string &host, const Listing &listing) const
{
    if (!listing.hosts)
        return {};
    // Looked up once per results page rather than once per site on it.
    ListedHosts &listed = *listing.hosts;
    std::call_once(listed.looked, [this, &listed] {
        // Built aside: a look-up that throws leaves the flag unset for a
        // later try, and must leave no half list behind.
        std::vector<facts::ResultSite> figures;
        figures.reserve(listed.hosts.size());
        for (const std::string &other : listed.hosts) {
            facts::ResultSite result{other, 0, std::nullopt};
            if (m_store != nullptr) {
                result.popularity = m_store->LinkPopularity(other);
                result.rank = m_store->TrafficRank(other);
            }
            figures.push_back(std::move(result));
        }
        listed.figures = std::move(figures);
    });
    return facts::OrderCompetitors(host, listed.figures);
}

std::string SiteFacts::DetailsPage(std::string_view asked, Deadline deadline)
{
    const std::string key = facts::FactsKey(asked);
    if (key.empty())
        return RenderUnknownDetailsPage();
    const Listing listing = Remembered(key);
    // The program asks for www.HOST whatever the listed spelling; the site's
    // pages are fetched under the spelling listed, the one its own home-page
    // request uses.
    const std::string site = listing.host.empty() ? HostName(asked) : listing.host;
    // Nothing goes out about an address, a special-use name or a name that
    // leads to a private address: the home page's fetch shows the last, so
    // the others wait (briefly) for it. Each fetch joins its prefetch.
    const bool askOutside = IsStorableHost(site) && MayAskAbout(site);
    std::optional<Answer> home;
    if (askOutside)
        home = m_fetcher.Fetch(LiveGateway::HomePageRequest(site));
    const Deadline addressChecked = std::min(deadline, std::chrono::steady_clock::now() + kAddressCheckWait);
    const bool fetchSite = askOutside && !Refused(AnswerBy(home, addressChecked));

    std::optional<Answer> cdx;
    std::optional<Answer> securityTxt;
    std::optional<Answer> rdap;
    if (fetchSite) {
        cdx = m_fetcher.Fetch(CdxRequest(key));
        securityTxt = m_fetcher.Fetch(SecurityTxtRequest(site));
        // Last: it may wait for IANA's bootstrap file when that is not cached.
        if (Answer answer = m_rdap.Fetch(key, deadline); answer.valid())
            rdap = std::move(answer);
    }

    facts::LiveDetails details;
    details.host = HostName(asked);
    try {
        if (m_store != nullptr) {
            details.trafficRank = m_store->TrafficRank(key);
            details.linkPopularity = m_store->LinkPopularity(key);
        }
        details.relatedHosts = Competitors(site, listing);
    } catch (const std::exception &error) {
        m_log("facts database: " + std::string(error.what()));
    }

    std::vector<facts::ContactItem> items;
    if (const FetchResult *page = Readable(AnswerBy(home, deadline))) {
        const ContactsMemo::Contacts contacts = m_contacts.Read(page->body, page->finalUrl);
        items = contacts->items;
        const std::string homeHost = facts::UrlHost(page->finalUrl);
        std::vector<Answer> linked;
        for (const std::string &url : contacts->pages)
            linked.push_back(m_fetcher.Fetch(ContactPageRequest(url)));
        for (const Answer &answer : linked) {
            const FetchResult *contactPage = Readable(AnswerBy(answer, deadline));
            // A contact page that redirected to another site is that site's.
            if (contactPage == nullptr ||
                !facts::SameRegistrableDomain(facts::UrlHost(contactPage->finalUrl), homeHost))
                continue;
            const ContactsMemo::Contacts more = m_contacts.Read(contactPage->body, contactPage->finalUrl);
            items.insert(items.end(), more->items.begin(), more->items.end());
        }
    }
    const FetchResult *text = Readable(AnswerBy(securityTxt, deadline));
    if (text != nullptr && StartsWithIgnoreCase(text->finalUrl, "https://")) {
        const std::vector<facts::ContactItem> found = facts::ReadSecurityTxt(text->body);
        items.insert(items.end(), found.begin(), found.end());
    }

    const FetchResult *archive = AnswerBy(cdx, deadline);
    if (const FetchResult *answer = Readable(archive))
        details.onlineSince = facts::ReadCdxFirstCapture(answer->body);
    const FetchResult *registry = AnswerBy(rdap, deadline);
    if (const FetchResult *answer = Readable(registry)) {
        facts::RdapFacts read = facts::ReadRdap(answer->body);
        if (!details.onlineSince)
            details.onlineSince = std::move(read.registered);
        items.insert(items.end(), read.abuse.begin(), read.abuse.end());
    }
    std::string troubles;
    if (const std::string why = cdx ? Trouble(archive) : std::string(); !why.empty())
        troubles += "archive: " + why;
    if (const std::string why = rdap ? Trouble(registry) : std::string(); !why.empty())
        troubles += (troubles.empty() ? "rdap: " : "; rdap: ") + why;
    if (!troubles.empty())
        m_log("details " + key + ": " + troubles);

    details.contactLines = facts::MergeContacts(items);
    return facts::RenderLiveDetailsPage(details);
}

std::string SiteFacts::BacklinkPage(std::string_view text, const std::string &linkKey, std::int64_t first,
                                    std::int64_t pageSize) const
{
    std::int64_t popularity = 0;
    std::vector<std::string> linking;
    if (m_store != nullptr && !linkKey.empty()) {
        try {
            popularity = m_store->LinkPopularity(linkKey);
            linking = m_store->LinkingDomains(linkKey);
        } catch (const std::exception &error) {
            m_log("facts database: " + std::string(error.what()));
        }
    }
    return facts::RenderBacklinkPage(text, popularity, linking, first, pageSize);
}

} // namespace kelvora::directory::live
