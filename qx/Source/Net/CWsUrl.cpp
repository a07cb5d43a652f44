#include "Net/CWsUrl.h"

#include <cctype>

namespace _NET {

namespace {

bool IsWsScheme(const std::string& scheme) {
    return scheme.size() == 2 && std::tolower(static_cast<unsigned char>(scheme[0])) == 'w' &&
           std::tolower(static_cast<unsigned char>(scheme[1])) == 's';
}

bool IsPort(const std::string& text) {
    if (text.empty() || text.size() > 5)
        return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    const unsigned long value = std::stoul(text);
    return value >= 1 && value <= 65535;
}

}  // namespace

std::optional<CWsUrl> CWsUrl::Parse(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || !IsWsScheme(url.substr(0, schemeEnd)))
        return {};

    const size_t authorityBegin = schemeEnd + 3;
    const size_t authorityEnd = url.find_first_of("/?#", authorityBegin);
    const std::string authority = url.substr(authorityBegin, authorityEnd - authorityBegin);
    if (authority.find('@') != std::string::npos)
        return {};

    CWsUrl result;
    std::string portText;
    bool ipv6 = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return {};
        result.host = authority.substr(1, close - 1);
        ipv6 = true;
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return {};
            portText = rest.substr(1);
        }
        if (portText.empty() && !rest.empty())
            return {};
    } else {
        const size_t colon = authority.find(':');
        result.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty())
                return {};
        }
    }
    if (result.host.empty())
        return {};
    if (!portText.empty() && !IsPort(portText))
        return {};
    result.port = portText.empty() ? "80" : std::to_string(std::stoul(portText));

    std::string target = authorityEnd == std::string::npos ? "" : url.substr(authorityEnd);
    target = target.substr(0, target.find('#'));
    if (target.empty() || target[0] != '/')
        target.insert(0, "/");
    result.target = target;

    result.hostHeader = ipv6 ? "[" + result.host + "]" : result.host;
    if (result.port != "80")
        result.hostHeader += ":" + result.port;
    return result;
}

}  // namespace _NET
