#include <gtest/gtest.h>

#include "Net/CWsUrl.h"

using _NET::CWsUrl;

namespace {

TEST(WsUrl, PartsOfAddressesTheLinkUses) {
    const auto plain = CWsUrl::Parse("ws://10.1.2.3:5212");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "10.1.2.3");
    EXPECT_EQ(plain->port, "5212");
    EXPECT_EQ(plain->target, "/");
    EXPECT_EQ(plain->hostHeader, "10.1.2.3:5212");

    const auto named = CWsUrl::Parse("WS://mes.local/a/b?x=1&y=2#part");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->host, "mes.local");
    EXPECT_EQ(named->port, "80");
    EXPECT_EQ(named->target, "/a/b?x=1&y=2");
    EXPECT_EQ(named->hostHeader, "mes.local");

    const auto query = CWsUrl::Parse("ws://h:81?q");
    ASSERT_TRUE(query);
    EXPECT_EQ(query->target, "/?q");

    const auto ipv6 = CWsUrl::Parse("ws://[::1]:5212/");
    ASSERT_TRUE(ipv6);
    EXPECT_EQ(ipv6->host, "::1");
    EXPECT_EQ(ipv6->hostHeader, "[::1]:5212");
}

TEST(WsUrl, AddressesItCannotServeAreRefused) {
    for (const char* url :
         {"wss://h/", "http://h/", "ws:/h", "ws://", "ws://:80/", "ws://h:/", "ws://h:0/",
          "ws://h:65536/", "ws://h:8x/", "ws://u@h/", "ws://[::1/", "ws://[::1]x/", ""}) {
        EXPECT_FALSE(CWsUrl::Parse(url)) << url;
    }
}

}  // namespace
