#include <gtest/gtest.h>

#include <string>

#include "directory/facts/upstream.h"

using namespace kelvora::directory::facts;

TEST(ReadCdxFirstCapture, GivesTheFirstCapturesDateOrNothing)
{
    const struct {
        const char *body;
        const char *date;   // "" for none
    } cases[] = {
        {R"([["timestamp"],["19961019041411"]])", "1996-10-19"},
        {"[[\"timestamp\"],\n[\"20000229000000\"]]\n", "2000-02-29"},
        {"[]", ""},                                     // no capture
        {R"([["timestamp"]])", ""},                     // the header alone
        {"", ""},
        {"<html><body>Wayback Machine is down</body></html>", ""},
        {R"({"error": "Internal Server Error"})", ""},
        {R"([["timestamp"],["1996101904"])", ""},        // cut short
        {R"([["timestamp"],[19961019041411]])", ""},     // a number, not text
        {R"([["timestamp"],["1996"]])", ""},
        {R"([["timestamp"],["19961019x41411"]])", ""},
        {R"([["timestamp"],["19990229000000"]])", ""},   // no such day
        {R"([["timestamp"],["19961319000000"]])", ""},
        {R"([["timestamp"],["10961019041411"]])", ""},   // before the web
        {R"([["timestamp"],["199610190414119999999999"]])", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReadCdxFirstCapture(c.body).value_or(""), c.date) << c.body;
}

TEST(ReadRdap, TakesTheRegistrationDateAndTheRegistrarsAbuseContact)
{
    const std::string answer = R"({
      "objectClassName": "domain", "ldhName": "GREENLEAF.TEST",
      "events": [
        {"eventAction": "last changed", "eventDate": "2020-01-01T00:00:00Z"},
        {"eventAction": "registration", "eventDate": "1998-03-12T04:00:00Z"},
        {"eventAction": "expiration", "eventDate": "2030-03-12T04:00:00Z"}],
      "entities": [
        {"objectClassName": "entity", "roles": ["registrant"],
         "vcardArray": ["vcard", [["email", {}, "text", "owner@greenleaf.test"]]]},
        {"objectClassName": "entity", "roles": ["registrar"],
         "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Registrar Inc."]]],
         "entities": [
           {"objectClassName": "entity", "roles": ["abuse"],
            "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", ""],
              ["tel", {"type": "voice"}, "uri", "tel:+1.4805550100"],
              ["email", {}, "text", "Abuse@Registrar.test"]]]}]}]})";
    const RdapFacts facts = ReadRdap(answer);
    EXPECT_EQ(facts.registered.value_or(""), "1998-03-12");
    ASSERT_EQ(facts.abuse.size(), 2u);
    EXPECT_EQ(FormatContactItem(facts.abuse[0]), "Registrar abuse: Abuse@registrar.test (RDAP)");
    EXPECT_EQ(FormatContactItem(facts.abuse[1]), "Registrar abuse: +1.4805550100 (RDAP)");

    // A registrant's address is no abuse contact; a wrong shape is ignored.
    const RdapFacts noRegistrar = ReadRdap(R"({"events": [{"eventAction": "registration",
        "eventDate": "garbage"}], "entities": [{"roles": ["registrant"], "entities": [{"roles": ["abuse"],
        "vcardArray": ["vcard", [["email", {}, "text", "x@y.test"]]]}]}, {"roles": "registrar"}]})");
    EXPECT_EQ(noRegistrar.registered, std::nullopt);
    EXPECT_TRUE(noRegistrar.abuse.empty());

    for (const char *failure : {R"({"errorCode": 404, "title": "Not Found"})", "<html>rate limited</html>",
                                "", R"({"events": [)", "[1, 2, 3]"}) {
        const RdapFacts facts = ReadRdap(failure);
        EXPECT_EQ(facts.registered, std::nullopt) << failure;
        EXPECT_TRUE(facts.abuse.empty()) << failure;
    }
}

TEST(UpstreamUrls, AskForTheHostAndItsRegistrableDomain)
{
    EXPECT_EQ(CdxUrl("www.Blog.Example.co.uk"),
              "https://web.archive.org/cdx/search/cdx?url=blog.example.co.uk&output=json&fl=timestamp&limit=1");
    EXPECT_EQ(RdapUrl("www.Blog.Example.co.uk"), "https://rdap.org/domain/example.co.uk");
    EXPECT_EQ(RdapUrl("www.greenleaf.test"), "https://rdap.org/domain/greenleaf.test");
    for (const char *host : {"", "co.uk", "bad host.test", "a&b.test"})
        EXPECT_EQ(RdapUrl(host), "") << host;
    EXPECT_EQ(CdxUrl("x.test&limit=99"), "");
}
