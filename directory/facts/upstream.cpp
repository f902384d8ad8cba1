#include "directory/facts/upstream.h"

#include <nlohmann/json.hpp>

#include "directory/facts/contact_text.h"
#include "directory/facts/domains.h"

namespace kelvora::directory::facts {

namespace {

using nlohmann::json;

// Answers larger than this are no answer these readers expect.
constexpr std::size_t kMaxAnswerSize = 1 << 20;
// Entities looked through per answer, which bounds the walk.
constexpr std::size_t kMaxEntities = 64;
// Earliest year believed: the web's first sites, and the first domain
// registrations, are from the 1980s.
constexpr int kEarliestYear = 1985;
constexpr int kLatestYear = 2199;

json Parse(std::string_view body)
{
    if (body.size() > kMaxAnswerSize)
        return json(json::value_t::discarded);
    return json::parse(body, nullptr, false);
}

// The value of a short digit text; -1 when it holds anything else.
int Digits(std::string_view text)
{
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "YYYY-MM-DD" from the digits YYYYMMDD (CDX) or the text YYYY-MM-DD...
// (RDAP), when it names a real day.
std::optional<std::string> DateOf(std::string_view year, std::string_view month, std::string_view day)
{
    static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int y = Digits(year);
    const int m = Digits(month);
    const int d = Digits(day);
    if (year.size() != 4 || month.size() != 2 || day.size() != 2 || y < kEarliestYear || y > kLatestYear ||
        m < 1 || m > 12 || d < 1 || d > kDaysInMonth[m - 1])
        return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap)
        return std::nullopt;
    return std::string(year) + "-" + std::string(month) + "-" + std::string(day);
}

const json *Member(const json &object, const char *name)
{
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

bool HasRole(const json &entity, std::string_view role)
{
    const json *roles = Member(entity, "roles");
    if (!roles || !roles->is_array())
        return false;
    for (const json &one : *roles) {
        if (one.is_string() && one.get_ref<const std::string &>() == role)
            return true;
    }
    return false;
}

const json *EntityWithRole(const json &holder, std::string_view role)
{
    const json *entities = Member(holder, "entities");
    if (!entities || !entities->is_array())
        return nullptr;
    std::size_t seen = 0;
    for (const json &entity : *entities) {
        if (++seen > kMaxEntities)
            break;
        if (HasRole(entity, role))
            return &entity;
    }
    return nullptr;
}

// ["vcard", [["email", {}, "text", "abuse@x.test"], ["tel", {...}, "uri", "tel:+1.5555"]]]
void ReadVcard(const json &entity, RdapFacts &facts)
{
    const json *card = Member(entity, "vcardArray");
    if (!card || !card->is_array() || card->size() != 2 || !(*card)[1].is_array())
        return;
    std::optional<std::string> mail;
    std::optional<std::string> phone;
    for (const json &property : (*card)[1]) {
        if (!property.is_array() || property.size() < 4 || !property[0].is_string() || !property[3].is_string())
            continue;
        const std::string &name = property[0].get_ref<const std::string &>();
        const std::string &value = property[3].get_ref<const std::string &>();
        if (name == "email" && !mail)
            mail = NormaliseMailAddress(value);
        else if (name == "tel" && !phone)
            phone = NormalisePhoneNumber(value);
    }
    for (const std::optional<std::string> &value : {mail, phone}) {
        if (value)
            facts.abuse.push_back({ContactKind::RegistrarAbuse, *value, "RDAP"});
    }
}

} // namespace

std::string CdxUrl(std::string_view host)
{
    const std::string key = FactsKey(host);
    if (key.empty())
        return {};
    return "https://web.archive.org/cdx/search/cdx?url=" + key + "&output=json&fl=timestamp&limit=1";
}

std::string RdapUrl(std::string_view host)
{
    const std::string key = FactsKey(host);
    const std::string domain = key.empty() ? std::string() : RegistrableDomain(key);
    if (domain.empty())
        return {};
    return "https://rdap.org/domain/" + domain;
}

std::optional<std::string> ReadCdxFirstCapture(std::string_view body)
{
    const json rows = Parse(body);
    if (!rows.is_array())
        return std::nullopt;
    for (const json &row : rows) {
        if (!row.is_array() || row.empty() || !row[0].is_string())
            return std::nullopt;
        const std::string &field = row[0].get_ref<const std::string &>();
        if (field == "timestamp")
            continue;   // the header row
        constexpr std::size_t kMaxStampLength = 14;   // YYYYMMDDhhmmss
        const std::string_view stamp = field;
        if (stamp.size() < 8 || stamp.size() > kMaxStampLength ||
            stamp.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        return DateOf(stamp.substr(0, 4), stamp.substr(4, 2), stamp.substr(6, 2));
    }
    return std::nullopt;
}

RdapFacts ReadRdap(std::string_view body)
{
    RdapFacts facts;
    const json answer = Parse(body);
    if (!answer.is_object())
        return facts;
    if (const json *events = Member(answer, "events"); events && events->is_array()) {
        for (const json &event : *events) {
            const json *action = Member(event, "eventAction");
            const json *date = Member(event, "eventDate");
            if (!action || !date || !action->is_string() || !date->is_string() ||
                action->get_ref<const std::string &>() != "registration")
                continue;
            const std::string_view text = date->get_ref<const std::string &>();
            if (text.size() >= 10 && text[4] == '-' && text[7] == '-')
                facts.registered = DateOf(text.substr(0, 4), text.substr(5, 2), text.substr(8, 2));
            break;
        }
    }
    if (const json *registrar = EntityWithRole(answer, "registrar")) {
        if (const json *abuse = EntityWithRole(*registrar, "abuse"))
            ReadVcard(*abuse, facts);
    }
    return facts;
}

} // namespace kelvora::directory::facts
