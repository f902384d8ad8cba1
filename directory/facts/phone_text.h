#pragma once

#include <string>
#include <string_view>
#include <vector>

// Telephone numbers in a page's visible text, read with libphonenumber. A
// number counts only with evidence that it is one: a label before it
// ("Tel.", "Telefon", "Téléphone", "Phone", "Mobil", "Hotline", "Call us",
// ...) or a link around it. Only numbers valid for their region are taken,
// so dates, postcodes, IBANs, VAT and register numbers never are.
namespace kelvora::directory::facts {

// Texts handed to the number matcher per call of FindLabelledPhoneNumbers
// (and per page for link texts), at most; each holds at most
// kMaxPhoneSnippetLength bytes. Together they bound the matcher's work on
// any page: it copies the rest of its text for every candidate, so a whole
// page handed to it would cost time growing with the square of its size.
constexpr std::size_t kMaxPhoneSnippets = 48;
constexpr std::size_t kMaxPhoneSnippetLength = 96;

struct FoundPhone {
    std::string number;   // as written (NormalisePhoneNumber's form)
    std::string e164;     // "+4989122220"
};

// The region national numbers are read for: the country of the page's
// language tag ("de-AT" gives "AT"), else that of the host's country-code
// top-level domain ("uk" gives "GB"), else "" (then only numbers written
// with "+" are read). Only regions libphonenumber knows; country-code
// domains mostly used for other things (io, co, me, tv...) give none.
std::string PhoneRegion(std::string_view languageTag, std::string_view host);

// The numbers written after a phone label in text, in order, each once,
// up to the end of the line that holds the first number. A fax label ends
// the stretch read ("Tel. 089 1 Fax 089 2" gives only the first), except
// right after the label ("Tel./Fax: 089 1").
std::vector<FoundPhone> FindLabelledPhoneNumbers(std::string_view text, const std::string &region);

// The numbers in a short text that is itself evidence (a link's text, a
// value marked as a telephone number), at most kMaxPhoneSnippetLength bytes
// of it read.
std::vector<FoundPhone> FindPhoneNumbers(std::string_view snippet, const std::string &region);

// number's E.164 form when libphonenumber can read it for region, else "".
std::string PhoneE164(std::string_view number, const std::string &region);

} // namespace kelvora::directory::facts
