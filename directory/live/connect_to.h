#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Connection redirection rules in curl's HOST1:PORT1:HOST2:PORT2 form:
// connections for HOST1:PORT1 go to HOST2:PORT2 while the request, the Host
// line and the certificate's name check keep HOST1. An empty HOST1 or PORT1
// matches any; an empty HOST2 or PORT2 keeps the original. IPv6 addresses are
// written in brackets ("[::1]").
namespace kelvora::directory::live {

struct ConnectToRule {
    std::string fromHost;   // lower-cased; empty matches any host
    int fromPort = 0;       // 0 matches any port
    std::string toHost;     // empty keeps the host
    int toPort = 0;         // 0 keeps the port
    std::string text;       // the rule as curl takes it

    bool Matches(std::string_view host, int port) const;
};

// nullopt when text is not four colon-separated fields with valid ports, or
// when it names neither HOST2 nor PORT2.
std::optional<ConnectToRule> ParseConnectTo(std::string_view text);

// The first rule that matches host:port (host compared without letter case),
// as curl applies them; nullptr when none does.
const ConnectToRule *MatchConnectTo(const std::vector<ConnectToRule> &rules, std::string_view host,
                                    int port);

} // namespace kelvora::directory::live
