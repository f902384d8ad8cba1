#include "directory/program.h"

namespace kelvora::directory {

namespace {

constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;

} // namespace

bool ParseListen(const std::string &text, std::string &address, int &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > kMaxPortDigits ||
        portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    address = text.substr(0, colon);
    return port <= kMaxPort;
}

} // namespace kelvora::directory
