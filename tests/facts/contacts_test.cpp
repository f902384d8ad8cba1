#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/facts/contact_text.h"
#include "directory/facts/contacts.h"
#include "directory/facts/parse_guard.h"
#include "directory/facts/phone_text.h"
#include "directory/facts/url.h"

using namespace kelvora::directory::facts;

namespace {

std::vector<std::string> Lines(const std::vector<ContactItem> &items)
{
    std::vector<std::string> lines;
    for (const ContactItem &item : items)
        lines.push_back(FormatContactItem(item));
    return lines;
}

// A home page with contact data in every form the extractor reads, and
// the things it must not take for contact data.
constexpr const char *kHomePage = R"html(<!DOCTYPE html>
<html><head><title>Greenleaf</title>
<script type="application/ld+json">
{"@context": "https://schema.org", "@graph": [
  {"@type": "Organization", "name": "Greenleaf", "email": "mailto:Shop@GreenLeaf.test",
   "contactPoint": [{"@type": "ContactPoint", "telephone": ["+1 555 0101", "not a number"]}]},
  {"@type": "WebSite", "url": "https://www.greenleaf.test/"}]}
</script>
<script type="application/ld+json">{"email": "broken@greenleaf.test", </script>
<script>var hidden = "script@greenleaf.test";</script>
<style>.x { content: "style@greenleaf.test"; }</style>
</head>
<body>
<img src="/img/logo@2x.png" alt="logo@2x.png">
<p>Write to <a href="mailto:mara%40greenleaf.test,Orders+EU@greenleaf.test?subject=Hello">us</a>
or call <a href="tel:+1%20555%200102">+1 555 0102</a>.</p>
<p>Press: press [at] greenleaf [dot] test. Sales: sales (AT) greenleaf (Dot) test,
jobs{at}greenleaf{dot}test, <span>web</span>@<b>greenleaf.test</b>.</p>
<p>Not addresses: a@b, me@localhost, user@host.png, [at] alone.</p>
<p>Also mara@greenleaf.test again, and SHOP@greenleaf.test.</p>
<form action="/search" method="get"><input name="q"><input type="submit"></form>
<form action="/login" method="post"><input type="email" name="u"><input type="password" name="p"></form>
<form action="../send?to=team" method="post"><input name="name"><textarea name="message"></textarea></form>
<form action="mailto:forms@greenleaf.test"><textarea></textarea></form>
<nav>
  <a href="/about-us/">About us</a>
  <a href="https://partner-service.test/contact">Contact form by PartnerService</a>
  <a href="/team">Impressum</a>
  <a href="https://shop.greenleaf.test/kontakt">Shop</a>
  <a href="/prices">Prices</a>
  <a href="/contact.pdf">Contact sheet (PDF)</a>
  <a href="#contact">Contact on this page</a>
  <a href="/contact">Contact</a>
</nav>
</body></html>
)html";

} // namespace

TEST(ExtractContacts, ReadsEveryFormOfContactDataOnAPage)
{
    const PageContacts contacts = ExtractContacts(kHomePage, "https://www.greenleaf.test/en/index.html");
    const std::string source = " (https://www.greenleaf.test/en/index.html)";
    EXPECT_EQ(Lines(contacts.items), (std::vector<std::string>{
                                         "Mail: Shop@greenleaf.test" + source,
                                         "Mail: mara@greenleaf.test" + source,
                                         "Mail: Orders+EU@greenleaf.test" + source,
                                         "Mail: forms@greenleaf.test" + source,
                                         "Mail: press@greenleaf.test" + source,
                                         "Mail: sales@greenleaf.test" + source,
                                         "Mail: jobs@greenleaf.test" + source,
                                         "Mail: web@greenleaf.test" + source,
                                         "Phone: +1 555 0101" + source,
                                         "Phone: +1 555 0102" + source,
                                     }));
    // Contact and imprint pages before about pages; another site's contact
    // page, a PDF and this page itself are not read.
    EXPECT_EQ(contacts.pages, (std::vector<std::string>{"https://www.greenleaf.test/team",
                                                        "https://shop.greenleaf.test/kontakt",
                                                        "https://www.greenleaf.test/contact"}));
}

TEST(ExtractContacts, NamesFormsVisitorsWriteIntoByTheirTarget)
{
    const PageContacts contacts = ExtractContacts(
        R"html(<base href="https://www.greenleaf.test/shop/"><form action="../send?to=team"><textarea></textarea>
           <input name="your-email"></form>
           <form><input type="EMAIL" name="from"><textarea></textarea></form>
           <form action="/join"><input type="email" name="from"></form>
           <form action="javascript:send()"><textarea></textarea></form>
           <form action="/search"><input name="q"></form>)html",
        "https://www.greenleaf.test/en/");
    EXPECT_EQ(Lines(contacts.items), (std::vector<std::string>{"Form: https://www.greenleaf.test/send?to=team",
                                                               "Form: https://www.greenleaf.test/en/"}));
}

TEST(ExtractContacts, KeepsAtMostTenItemsAndThreePages)
{
    std::string page;
    for (int i = 0; i < 30; ++i)
        page += "<a href=\"mailto:person" + std::to_string(i) + "@big.test\">x</a>"
                "<a href=\"/contact-" + std::to_string(i) + "\">x</a>";
    const PageContacts contacts = ExtractContacts(page, "http://big.test/");
    ASSERT_EQ(contacts.items.size(), kMaxContactItems);
    EXPECT_EQ(contacts.items.back().value, "person9@big.test");
    EXPECT_EQ(contacts.pages.size(), kMaxContactPages);
}

TEST(ParseableLength, CutsWhereThePageWouldTieUpTheParser)
{
    std::string nested;
    for (int i = 0; i < 300; ++i)
        nested += "<div>";
    EXPECT_EQ(ParseableLength(nested), kMaxNestingDepth * 5);
    // Stray end tags the parser ignores do not hide the depth.
    std::string stray;
    for (int i = 0; i < 300; ++i)
        stray += "<div></span>";
    EXPECT_EQ(ParseableLength(stray), kMaxNestingDepth * 12);

    // 200 unclosed formatting elements, re-opened after every closed block.
    std::string reopening = "<div>";
    for (int i = 0; i < 200; ++i)
        reopening += "<b id=" + std::to_string(i) + ">";
    reopening += "</div>";
    const std::size_t prefix = reopening.size();
    for (int i = 0; i < 1000; ++i)
        reopening += "<div>x</div>";
    // Cut at the text of the block that would pass the limit.
    EXPECT_EQ(ParseableLength(reopening), prefix + kMaxReopenedElements / 200 * 12 + 5);

    // Real pages: closed elements, void and optional-end elements, a few
    // unclosed ones, scripts holding tags, comments, stray "<".
    std::string page = "<!DOCTYPE html><html><head><script>if (a<b) document.write('<div><div><div>');</script>"
                       "<!-- <div><div> --></head><body><font face=x><b>";
    for (int i = 0; i < 20'000; ++i)
        page += "<div class=row><p>item " + std::to_string(i) + " < 5<br><img src=x.png><input>"
                "<ul><li>one<li>two</ul><table><tr><td>a<td>b</table></div>";
    page += "</b></font></body></html>";
    EXPECT_EQ(ParseableLength(page), page.size());
}

TEST(ExtractContacts, SurvivesHostilePagesAndReadsWhatComesBeforeADeepNest)
{
    // Nesting this deep would keep the parser busy for minutes.
    std::string deep = "<p><a href=\"mailto:before@deep.test\">x</a></p>";
    for (int i = 0; i < 100'000; ++i)
        deep += "<div>";
    deep += "<a href=\"mailto:after@deep.test\">x</a>";
    EXPECT_EQ(Lines(ExtractContacts(deep, "http://deep.test/").items),
              (std::vector<std::string>{"Mail: before@deep.test (http://deep.test/)"}));

    std::string reopening = "<p><a href=\"mailto:before@bomb.test\">x</a></p><div>";
    for (int i = 0; i < 200; ++i)
        reopening += "<b id=" + std::to_string(i) + ">";
    reopening += "</div>";
    for (int i = 0; i < 20'000; ++i)   // 1.5 GB in the parser's tree without the cut
        reopening += "<div>x</div>";
    reopening += "<a href=\"mailto:after@bomb.test\">x</a>";
    EXPECT_EQ(Lines(ExtractContacts(reopening, "http://bomb.test/").items),
              (std::vector<std::string>{"Mail: before@bomb.test (http://bomb.test/)"}));

    std::string wide = "<ul>";
    for (int i = 0; i < 20'000; ++i)
        wide += "<li><span>row</span><br></li>";
    wide += "</ul><a href=\"mailto:after@wide.test\">x</a>";
    EXPECT_EQ(ExtractContacts(wide, "http://wide.test/").items.size(), 1u);

    // Labels and numbers everywhere: the number matcher sees only bounded
    // snippets, and bad bytes beside a number do not hide it.
    std::string numbers = "<html lang=\"de-DE\"><p>Telefon \xff\xfe 089 1234567</p>";
    for (int i = 0; i < 100'000; ++i)
        numbers += "<p>Tel. Tel. 089 " + std::to_string(2'000'000 + i) + ", <a href=/x>030 1234567</a></p>";
    const std::vector<ContactItem> found = ExtractContacts(numbers, "http://numbers.test/").items;
    ASSERT_EQ(found.size(), kMaxContactItems);
    EXPECT_EQ(found.front().value, "030 1234567");
    EXPECT_EQ(found.back().value, "089 2000007");

    // Malformed markup and bytes are parsed as a browser would, not refused.
    static const char kJunk[] = "<a href='mailto:x@junk.test'>\0\xff\xfe<<<</a";
    const std::string junk = std::string(kJunk, sizeof(kJunk) - 1) + "<div";
    EXPECT_EQ(ExtractContacts(junk, "http://junk.test/").items.size(), 1u);
    EXPECT_TRUE(ExtractContacts(kHomePage, "ftp://greenleaf.test/").items.empty());
}

TEST(ReadSecurityTxt, TakesTheContactFieldsOfAPlainOrSignedFile)
{
    const std::string signedFile = "-----BEGIN PGP SIGNED MESSAGE-----\r\nHash: SHA256\r\n\r\n"
                                   "# Our security contacts\r\n"
                                   "Contact: mailto:security@greenleaf.test\r\n"
                                   "contact: tel:+1-201-555-0123\r\n"
                                   "- Contact: https://www.greenleaf.test/security?via=txt\r\n"
                                   "Contact: we read mail\r\n"
                                   "Contact: mailto:SECURITY@greenleaf.test\r\n"
                                   "Expires: 2030-01-01T00:00:00.000Z\r\n"
                                   "-----BEGIN PGP SIGNATURE-----\r\nabc\r\n";
    EXPECT_EQ(Lines(ReadSecurityTxt(signedFile)),
              (std::vector<std::string>{
                  "Security contact: security@greenleaf.test (security.txt)",
                  "Security contact: +1-201-555-0123 (security.txt)",
                  "Security contact: https://www.greenleaf.test/security?via=txt (security.txt)",
              }));
    // A site answering every path with its home page.
    EXPECT_TRUE(ReadSecurityTxt("\n <!DOCTYPE html><p>\nContact: mailto:a@b.test\n").empty());
}

TEST(MergeContacts, OrdersByKindDropsRepeatsAndKeepsTen)
{
    std::vector<ContactItem> items = {
        {ContactKind::Form, "https://a.test/send", ""},
        {ContactKind::Phone, "+1 555 0101", "https://a.test/"},
        {ContactKind::Mail, "info@a.test", "https://a.test/"},
        {ContactKind::RegistrarAbuse, "abuse@registrar.test", "RDAP"},
        {ContactKind::SecurityContact, "security@a.test", "security.txt"},
        {ContactKind::Mail, "INFO@a.test", "https://a.test/contact"},     // repeat
        {ContactKind::Phone, "+1-555-0101", "https://a.test/contact"},    // repeat
        {ContactKind::Mail, "sales@a.test", "https://a.test/contact"},
    };
    EXPECT_EQ(MergeContacts(items), (std::vector<std::string>{
                                        "Mail: info@a.test (https://a.test/)",
                                        "Mail: sales@a.test (https://a.test/contact)",
                                        "Phone: +1 555 0101 (https://a.test/)",
                                        "Form: https://a.test/send",
                                        "Security contact: security@a.test (security.txt)",
                                        "Registrar abuse: abuse@registrar.test (RDAP)",
                                    }));
    // One number written two ways on two pages: one line, as first written.
    const std::vector<ContactItem> numbers = {
        {ContactKind::Phone, "01 234 56 78", "https://a.test/", "+4312345678"},
        {ContactKind::Phone, "+43 (0)1 234 56 78", "https://a.test/kontakt", "+4312345678"},
        {ContactKind::Phone, "01 234 56 79", "https://a.test/kontakt", "+4312345679"},
    };
    EXPECT_EQ(MergeContacts(numbers), (std::vector<std::string>{"Phone: 01 234 56 78 (https://a.test/)",
                                                                "Phone: 01 234 56 79 (https://a.test/kontakt)"}));
    for (int i = 0; i < 20; ++i)
        items.push_back({ContactKind::Mail, "p" + std::to_string(i) + "@a.test", "https://a.test/"});
    const std::vector<std::string> merged = MergeContacts(items);
    ASSERT_EQ(merged.size(), kMaxContactItems);
    EXPECT_EQ(merged.back(), "Mail: p7@a.test (https://a.test/)");
}

TEST(ContactText, RecognisesAddressesAndNumbers)
{
    const struct {
        const char *text;
        const char *address;   // "" when none
    } addresses[] = {
        {"mailto:Info@Example.COM", "Info@example.com"},
        {"  first.last+tag@mail.example.co.uk ", "first.last+tag@mail.example.co.uk"},
        {"a@b", ""},
        {"logo@2x.png", ""},
        {"two@@example.com", ""},
        {".dot@example.com", ""},
        {"dot..dot@example.com", ""},
        {"x@-bad.example.com", ""},
        {"quote\"s@example.com", ""},
        {"<tag>@example.com", ""},
        {"name@example.test", "name@example.test"},
    };
    for (const auto &c : addresses)
        EXPECT_EQ(NormaliseMailAddress(c.text).value_or(""), c.address) << c.text;

    const struct {
        const char *text;
        const char *number;
    } numbers[] = {
        {"tel:+49 (0)30  1234-567;ext=8", "+49 (0)30 1234-567"},
        {"+1.4806242505", "+1.4806242505"},
        {"1234", ""},
        {"call 555 0101", ""},
        {"++1 555 0101", ""},
        {"123456789012345678901", ""},
    };
    for (const auto &c : numbers)
        EXPECT_EQ(NormalisePhoneNumber(c.text).value_or(""), c.number) << c.text;

    EXPECT_EQ(FindMailAddresses("Mail info(at)a.test, or INFO@A.test. Then (at) x [dot]"),
              (std::vector<std::string>{"info@a.test"}));
    EXPECT_EQ(FindMailAddresses("end: last@a.test."), (std::vector<std::string>{"last@a.test"}));
}

TEST(ResolveUrl, ResolvesReferencesAsABrowserDoes)
{
    const std::string base = "https://www.Example.test/a/b/page.html?x=1";
    const struct {
        const char *reference;
        const char *resolved;   // "" when none
    } cases[] = {
        {"", "https://www.example.test/a/b/page.html?x=1"},
        {"#top", "https://www.example.test/a/b/page.html?x=1"},
        {"?y=2", "https://www.example.test/a/b/page.html?y=2"},
        {"contact", "https://www.example.test/a/b/contact"},
        {"../../contact/./", "https://www.example.test/contact/"},
        {"../../../../up", "https://www.example.test/up"},
        {"/abs path", "https://www.example.test/abs%20path"},
        {"//Other.test:8080/x", "https://other.test:8080/x"},
        {"HTTP://user:pw@Shop.Example.test/\\x", "http://shop.example.test//x"},
        {" \t/con\ntact ", "https://www.example.test/contact"},
        {"/q?a=\"<b>\"", "https://www.example.test/q?a=%22%3Cb%3E%22"},
        {"javascript:alert(1)", ""},
        {"mailto:a@b.test", ""},
        {"http://bad_host/", ""},
        {"http://host.test:99999999/", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ResolveUrl(base, c.reference).value_or(""), c.resolved) << c.reference;
    EXPECT_EQ(ResolveUrl("not a url", "/x"), std::nullopt);
    EXPECT_EQ(UrlHost("https://Shop.Example.test:8443/x"), "shop.example.test");
    EXPECT_EQ(UrlPathAndQuery("https://a.test"), "/");
}

namespace {

// The items of a page with the " (PAGE-URL)" every mail and phone item ends in cut off.
std::vector<std::string> ItemsWithoutSource(const PageContacts &contacts, const std::string &pageUrl)
{
    std::vector<std::string> lines;
    for (const ContactItem &item : contacts.items) {
        EXPECT_EQ(item.source, item.kind == ContactKind::Form ? "" : pageUrl) << item.value;
        std::string line = FormatContactItem(item);
        const std::string suffix = " (" + pageUrl + ")";
        if (line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
            line.resize(line.size() - suffix.size());
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(ExtractContacts, ReadsNumbersMarkedValuesHiddenAddressesAndOnlyContactForms)
{
    const struct {
        const char *what;
        const char *pageUrl;
        const char *html;
        std::vector<std::string> items;
        std::vector<std::string> pages;
    } cases[] = {
        // Numbers in the text, read for the page's region.
        {"language tag gives the region", "https://www.wien.test/",
         R"(<html lang="de-AT"><p>Tel.: 01 234 56 78</p><p>TELEFON&nbsp;0664&nbsp;1234567</p>)",
         {"Phone: 01 234 56 78", "Phone: 0664 1234567"}, {}},
        {"no region: only + numbers", "https://www.wien.test/",
         "<p>Tel.: 01 234 56 78</p><p>Telefon: +43 1 234 56 99</p>", {"Phone: +43 1 234 56 99"}, {}},
        {"the country's domain gives the region", "https://www.shop.co.uk/contact",
         R"(<html lang="en"><p>Call us on 020 7946 0958 (9am-5pm)</p>)", {"Phone: 020 7946 0958"}, {}},
        {"French labels in any case, a number split over two cells", "https://www.paris.test/",
         R"(<html lang="fr-FR"><p>Tél. : 06 37 38 15 55</p><table><tr><td>TÉLÉPHONE</td>
            <td>01 42 68 53 00</td></tr></table>)",
         {"Phone: 06 37 38 15 55", "Phone: 01 42 68 53 00"}, {}},
        {"fax numbers are not phones", "https://www.muenchen.test/",
         R"(<html lang="de-DE"><p>Telefon: 089 12 22 20, Telefax: 089 12 22 21</p><p>Fax: 089 12 22 22</p>
            <p>Tel. 089 12 22 23 · F: 089 12 22 24</p><p>Tel./Fax 030 1234567</p>)",
         {"Phone: 089 12 22 20", "Phone: 089 12 22 23", "Phone: 030 1234567"}, {}},
        {"dates, postcodes, IBAN, VAT and register numbers are no phones", "https://www.muenchen.test/",
         R"(<html lang="de-DE"><p>Telefon: seit 01.05.2023 neu, Mo-Fr 9-17 Uhr</p>
            <p>Hotline 80331 München, IBAN DE89 3704 0044 0532 0130 00</p>
            <p>Phone USt-IdNr. DE123456789, HRB 123456</p><p>Mobil 2023-05-01</p>)",
         {}, {}},
        {"unlabelled numbers are not taken", "https://www.muenchen.test/",
         R"(<html lang="de-DE"><p>Artikel 089 1234567 ab Lager</p>)", {}, {}},
        {"a number in a link; one number written three ways is listed once", "https://www.wien.test/",
         R"(<html lang="de-AT"><a href="tel:+4312345678">Anrufen</a><a href="/kontakt">01 234 56 78</a>
            <p>Tel: +43 (0)1 234 56 78</p>)",
         {"Phone: +4312345678"}, {"https://www.wien.test/kontakt"}},
        // Microdata and RDFa.
        {"microdata and RDFa values", "https://www.shop.test/",
         R"(<div itemscope itemtype="https://schema.org/Organization">
            <span itemprop="telephone">+49 89 1234567</span><span itemprop="faxNumber">+49 89 1234568</span>
            <a itemprop="email" href="mailto:info@shop.test">Mail</a><meta itemprop="email" content="sales@shop.test">
            </div><div vocab="https://schema.org/" typeof="Organization">
            <span property="schema:telephone" content="+43 1 234 56 78">Anrufen</span>
            <span property="http://schema.org/email">rdfa@shop.test</span><span property="name">+1 201-555-0123</span></div>)",
         {"Mail: info@shop.test", "Mail: sales@shop.test", "Mail: rdfa@shop.test", "Phone: +49 89 1234567",
          "Phone: +43 1 234 56 78"},
         {}},
        // Addresses hidden from harvesters that a visitor still sees.
        {"(@) and [@]", "https://www.shop.test/", "<p>info(@)shop.test or team [@] shop.test</p>",
         {"Mail: info@shop.test", "Mail: team@shop.test"}, {}},
        {"Cloudflare's e-mail protection", "https://www.shop.test/",
         R"(<a href="/cdn-cgi/l/email-protection#5a373b33362e3560393c77363334311a2932352a742e3f292e65292f38303f392e671233">
            [email&#160;protected]</a><span class="__cf_email__" data-cfemail="9cfffab1efecfdf2dceff4f3ecb2e8f9efe8">
            [email&#160;protected]</span><span data-cfemail="zz41">x</span>)",
         {"Mail: cf-link@shop.test", "Mail: cf-span@shop.test"}, {}},
        {"a ROT13 span is read as its script shows it", "https://www.shop.test/",
         R"(<p>Mail: <span class="email rot13">vasb@fubc.se</span></p>)", {"Mail: info@shop.fr"}, {}},
        {"a scrambled form closed inside an open block stops hiding at its end", "https://www.shop.test/",
         R"(<div><form class="rot13"><div></form><p>Mail: info@shop.test</p></div></div>)",
         {"Mail: info@shop.test"}, {}},
        // Forms: a message, a way to reply and nothing saying otherwise.
        {"only contact forms", "https://www.shop.test/",
         R"(<form action="/kontakt/senden"><input type="email" name="mail"><textarea></textarea></form>
            <form action="/about/contact"><input name="telefon"><textarea></textarea></form>
            <form action="https://x.us1.list-manage.com/subscribe/post" id="mc-embedded-subscribe-form">
              <input type="email"><textarea></textarea></form>
            <form action="/newsletter"><input type="email" name="email"></form>
            <form action="/abo"><input type="email"><textarea></textarea></form>
            <form id="review_form"><input type="email"><textarea></textarea></form>
            <form action="/wp-comments-post.php" id="commentform"><textarea></textarea><input type="email"></form>
            <form class="search-form"><input type="email"><textarea></textarea></form>
            <form name="cart"><input type="tel"><textarea></textarea></form>
            <form action="/message"><input name="name"><textarea></textarea></form>)",
         {"Form: https://www.shop.test/kontakt/senden", "Form: https://www.shop.test/about/contact"}, {}},
        // Pages to read next.
        {"the page itself is never read next, a trailing slash or fragment aside", "https://www.shop.test/kontakt/",
         R"(<a href="/kontakt">Kontakt</a><a href="/kontakt/#form">Kontakt</a><a href="/impressum/">Impressum</a>
            <a href="/impressum#top">Impressum</a><a href="/impressum">Impressum</a><a href="/about">About</a>)",
         {}, {"https://www.shop.test/impressum/", "https://www.shop.test/about"}},
    };
    for (const auto &c : cases) {
        const PageContacts contacts = ExtractContacts(c.html, c.pageUrl);
        EXPECT_EQ(ItemsWithoutSource(contacts, c.pageUrl), c.items) << c.what;
        EXPECT_EQ(contacts.pages, c.pages) << c.what;
    }
}

TEST(PhoneRegion, TakesTheLanguageTagsCountryThenTheDomains)
{
    EXPECT_EQ(PhoneRegion("de-AT", "www.shop.de"), "AT");
    EXPECT_EQ(PhoneRegion("zh-Hant-TW", "shop.test"), "TW");
    EXPECT_EQ(PhoneRegion("en_uk", "shop.test"), "GB");
    EXPECT_EQ(PhoneRegion("de", "www.shop.DE"), "DE");
    EXPECT_EQ(PhoneRegion("es-419", "tienda.mx"), "MX");
    EXPECT_EQ(PhoneRegion("", "shop.co.uk"), "GB");
    EXPECT_EQ(PhoneRegion("en", "startup.io"), "");
    EXPECT_EQ(PhoneRegion("en", "shop.eu"), "");
    EXPECT_EQ(PhoneRegion("", "shop.com"), "");
}
