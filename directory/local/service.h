#pragma once

#include <string_view>

#include "directory/core/backend.h"
#include "directory/local/store.h"

// The local directory's answers: every request from one data set.
namespace kelvora::directory {

class LocalAnswers final : public Backend {
public:
    // store must outlive the answers.
    explicit LocalAnswers(const Store &store);

    Reply Search(const SearchRequest &request) override;
    Reply Details(const DetailsRequest &request) override;
    Reply Home(std::string_view hostLine) override;

private:
    const Store &m_store;
};

// One request answered from store.
Reply Respond(const Store &store, std::string_view path, std::string_view query, std::string_view hostLine);

} // namespace kelvora::directory
