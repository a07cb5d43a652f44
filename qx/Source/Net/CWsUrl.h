#pragma once

#include <optional>
#include <string>

namespace _NET {

// The parts of a "ws://host[:port][/path][?query]" address that a connection needs.
struct CWsUrl {
    std::string host;    // without the brackets of an IPv6 literal
    std::string port;    // decimal, "80" when the address names none
    std::string target;  // path and query, "/" when the address names none
    std::string hostHeader;

    // Empty for another scheme, a missing host or a port outside 1..65535.
    static std::optional<CWsUrl> Parse(const std::string& url);
};

}  // namespace _NET
