#pragma once
#include <string>

// "{code} {English description}" of a Winsock error code; "{code} Unknown error" for a code
// that is not in the table.
std::string wsaErrorText(int code);
