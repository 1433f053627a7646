#pragma once
// IPv4 addresses and networks in CIDR form ("10.1.0.0/16", or a single
// address "192.168.1.7"), for the client allowlists of listening servers.
// Plain values; safe to copy between threads.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CIpv4Network {
    uint32_t address = 0;  // host byte order, host bits cleared
    int prefix = 32;

    bool Contains(uint32_t hostOrderAddress) const;
    // "a.b.c.d/n".
    std::string Text() const;

    // "a.b.c.d" or "a.b.c.d/n" (0 <= n <= 32); host bits set below the
    // prefix are refused, as they usually mean a mistyped network.
    static bool Parse(std::string_view text, CIpv4Network& out);
};

// A list of networks separated by commas, blanks or both; empty text gives
// an empty list. On failure `bad` holds the entry that did not parse.
bool ParseNetworkList(std::string_view text, std::vector<CIpv4Network>& out, std::string& bad);
// The list as ParseNetworkList reads it back, entries joined by ",".
std::string NetworkListText(const std::vector<CIpv4Network>& networks);

// A dotted IPv4 address in host byte order; false for anything else.
bool ParseIpv4(std::string_view text, uint32_t& hostOrderAddress);
std::string Ipv4Text(uint32_t hostOrderAddress);
