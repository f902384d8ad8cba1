#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "directory/facts/contacts.h"

// Contacts read from fetched pages, remembered by the page's address and its
// bytes' length and hash. A warm details page has its pages from the cache in
// microseconds, and parsing them again would cost more than everything else
// it does. The same bytes at the same address always read the same, so a
// remembered reading is exactly the one a new parse would give. Safe to use
// from many threads at once.
namespace kelvora::directory::live {

// Pages remembered at most; the oldest reading goes first.
constexpr std::size_t kMaxRememberedPages = 4'096;

class ContactsMemo final {
public:
    using Contacts = std::shared_ptr<const facts::PageContacts>;

    // facts::ExtractContacts(html, pageUrl), read once per address and body.
    Contacts Read(std::string_view html, std::string_view pageUrl);

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, Contacts> m_read;
    std::deque<std::string> m_order;
};

} // namespace kelvora::directory::live
