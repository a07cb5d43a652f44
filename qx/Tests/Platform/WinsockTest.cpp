#include <gtest/gtest.h>

#include <winsock2.h>

#include "Platform/Gcd.h"
#include "Platform/NetStartup.h"
#include "Platform/Winsock.h"

// Links nothing with Asio in it: Asio starts Winsock by itself, which would hide a start-up
// of ours that is missing.
namespace {

// 0 when a socket can be made, else the error.
int SocketError() {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    closesocket(s);
    return 0;
}

// Winsock counts its start-ups; sockets fail with WSANOTINITIALISED while the count is 0. The
// test holds a start-up of its own across the exit tasks, so that one clean-up too many shows
// as well as one too few.
TEST(Winsock, StartsVersion22AndCleansUpExactlyOnceAtExit) {
    EXPECT_EQ(SocketError(), WSANOTINITIALISED);
    _GCD::Run(
        [] {
            EXPECT_TRUE(_NET::Startup());
            EXPECT_EQ(SocketError(), 0);
            EXPECT_EQ(_OS::WinsockVersion(), MAKEWORD(2, 2));
            WSADATA data;
            EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
            _GCD::Quit();
        },
        1);
    // The exit tasks have run: only the test's own start-up is left.
    EXPECT_EQ(SocketError(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(SocketError(), WSANOTINITIALISED);
}

}  // namespace
