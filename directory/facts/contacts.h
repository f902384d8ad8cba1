#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A site's contact data for the details page, gathered from its home page,
// from up to kMaxContactPages pages the home page links to (contact, about,
// imprint), from /.well-known/security.txt and from RDAP. The gateway
// fetches; these functions only read what it fetched.
namespace kelvora::directory::facts {

// Items shown for one site at most.
constexpr std::size_t kMaxContactItems = 10;
// Linked pages read besides the home page.
constexpr std::size_t kMaxContactPages = 3;

enum class ContactKind { Mail, Phone, Form, SecurityContact, RegistrarAbuse };

struct ContactItem {
    ContactKind kind = ContactKind::Mail;
    std::string value;    // address, number or URL
    std::string source;   // page URL (Mail, Phone); unused for the others
    // A Phone's number in E.164 form when it could be read ("+4989122220"):
    // what tells numbers written in different ways apart.
    std::string e164 = {};
};

// The item's line: "Mail: ADDRESS (PAGE-URL)", "Phone: NUMBER (PAGE-URL)",
// "Form: URL", "Security contact: VALUE (security.txt)", "Registrar abuse:
// VALUE (RDAP)".
std::string FormatContactItem(const ContactItem &item);

// What tells two items apart: the kind and the value, in lower case, a
// number by its E.164 form when known, else by its digits alone (and a
// leading "+").
std::string ContactKey(const ContactItem &item);

struct PageContacts {
    // Distinct items in the order Mail, Phone, Form, each in page order; at
    // most kMaxContactItems.
    std::vector<ContactItem> items;
    // Pages to read next (only from a home page): absolute http(s) addresses
    // on the page's registrable domain whose address or link text says
    // contact, kontakt, impressum or imprint (first) or about; at most
    // kMaxContactPages, each once, never the page itself (addresses compared
    // without a trailing slash).
    std::vector<std::string> pages;
};

// Reads a page's HTML (any bytes) in one pass of its tokens (html_tokens.h)
// with a model of how an HTML5 parser would place them, up to
// ParseableLength() (parse_guard.h). pageUrl is the
// page's absolute http or https address: relative links resolve against it
// (or the page's <base>), and it is the items' source. Finds "mailto:" and
// "tel:" links, schema.org JSON-LD "email" and "telephone" values, microdata
// and RDFa ones (itemprop="telephone", property="schema:email", ...), mail
// addresses in the visible text (FindMailAddresses), also behind
// Cloudflare's e-mail protection or in a ROT13-scrambled element once
// unscrambled, phone numbers after a label in the visible text or inside a
// link (phone_text.h; read for the region of <html lang> or the host's
// country domain, keyed by E.164), and contact forms (a text area, a field
// to reply with, no password field, and no name saying newsletter,
// subscribe, review, comment, search, login, cart and the like). Numbers
// from the visible text come after the other numbers. Nothing when pageUrl
// is not an http or https address.
PageContacts ExtractContacts(std::string_view html, std::string_view pageUrl);

// The "Contact:" fields of a security.txt file (mailto:, tel:, http: and
// https: values; "mailto:" and "tel:" dropped), at most
// kMaxContactItems. Nothing when the text is an HTML page, as sites that
// answer every path with their home page send.
std::vector<ContactItem> ReadSecurityTxt(std::string_view text);

// The site's contact block: items in the order Mail, Phone, Form, Security
// contact, Registrar abuse (each kind in the order given), an item with the
// ContactKey of an earlier one dropped, at most kMaxContactItems lines.
std::vector<std::string> MergeContacts(const std::vector<ContactItem> &items);

} // namespace kelvora::directory::facts
