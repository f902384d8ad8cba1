#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Recognising mail addresses and telephone numbers in the texts a site
// offers: link targets, structured data, its visible text and security.txt.
// Every function takes any bytes and returns only well-formed values (no
// blanks inside, no controls, nothing that could open a tag).
namespace kelvora::directory::facts {

// Addresses taken from one text at most; the rest are ignored.
constexpr std::size_t kMaxAddressesPerText = 64;

// local@domain with a local part of up to 64 of the characters a mailbox may
// hold, and a domain of letter/digit/hyphen labels under a real top-level
// domain of the public suffix list (or a reserved test one: test, example,
// invalid, localhost), so "logo@2x.png" is no address. The domain comes back
// lower-cased; surrounding blanks and one "mailto:" are dropped.
std::optional<std::string> NormaliseMailAddress(std::string_view text);

// A telephone number as written (one "tel:" and any ";parameters" dropped,
// runs of blanks made one): an optional leading "+", then digits, blanks
// and "-", ".", "/", "(", ")"; 5 to 20 digits in all.
std::optional<std::string> NormalisePhoneNumber(std::string_view text);

// The mail addresses in a page's visible text, in order of appearance,
// each once (letter case ignored), at most kMaxAddressesPerText. Besides
// plain addresses it reads the obfuscated forms "name [at] domain [dot] tld"
// with "at" and "dot" in square, round or curly brackets, in any letter
// case and with or without blanks around them, and "name(@)domain.tld" with
// "@" in brackets.
std::vector<std::string> FindMailAddresses(std::string_view text);

// The text Cloudflare's e-mail protection hides in "data-cfemail" and after
// "/cdn-cgi/l/email-protection#": hex bytes, the first the key every other
// is XORed with. nullopt for anything else; the text still has to be
// checked as an address.
std::optional<std::string> DecodeCloudflareEmail(std::string_view code);

// Letters rotated by 13 places, the scrambling some pages undo by script.
std::string Rot13(std::string_view text);

} // namespace kelvora::directory::facts
