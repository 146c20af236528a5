#pragma once
// Test hooks of the Winsock stand-in. Program code never includes this header.

#include <cstddef>

namespace kvo::winsocktest {

// Sockets created through the stand-in and not yet closed: a leak check.
std::size_t openSocketCount();
// Successful WSAStartup calls not yet balanced by WSACleanup.
int startupCount();
// Closes every open socket and forgets all start-ups (a test's fresh start).
void resetWinsock();

}  // namespace kvo::winsocktest
