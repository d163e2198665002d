// Whether the host has a file, asked without fetching it: a HEAD request with
// the member's credentials, or, where the host refuses HEAD, a GET that is
// ended as soon as the status arrives.
#pragma once
#include <string>

namespace velmo {

// 1 the address can be fetched, -2 not found, -1 could not tell (refused, no
// answer, another status). The address is moved onto the configured host first.
int ProbeAddress(const std::string& address);

}  // namespace velmo
