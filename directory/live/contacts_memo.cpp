#include "directory/live/contacts_memo.h"

#include <functional>

namespace kelvora::directory::live {

namespace {

std::string MemoKey(std::string_view html, std::string_view pageUrl)
{
    std::string key(pageUrl);
    key += '\n';
    key += std::to_string(html.size());
    key += ':';
    key += std::to_string(std::hash<std::string_view>{}(html));
    return key;
}

} // namespace

ContactsMemo::Contacts ContactsMemo::Read(std::string_view html, std::string_view pageUrl)
{
    std::string key = MemoKey(html, pageUrl);
    {
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_read.find(key); found != m_read.end())
            return found->second;
    }
    // Parsed outside the lock: two threads reading one page at once both
    // parse it, rather than every reader waiting for one parse.
    auto contacts = std::make_shared<const facts::PageContacts>(facts::ExtractContacts(html, pageUrl));
    const std::lock_guard lock(m_mutex);
    const auto [entry, added] = m_read.emplace(key, contacts);
    if (!added)
        return entry->second;
    m_order.push_back(std::move(key));
    if (m_order.size() > kMaxRememberedPages) {
        m_read.erase(m_order.front());
        m_order.pop_front();
    }
    return contacts;
}

} // namespace kelvora::directory::live
