#include "ports/Ipv4Network.h"

#include <arpa/inet.h>
#include <charconv>

namespace {
uint32_t maskOf(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }
}  // namespace

bool ParseIpv4(std::string_view text, uint32_t& hostOrderAddress)
{
    // inet_pton accepts exactly four decimal parts, no leading zeros trouble.
    const std::string copy(text);
    in_addr a{};
    if (inet_pton(AF_INET, copy.c_str(), &a) != 1)
        return false;
    hostOrderAddress = ntohl(a.s_addr);
    return true;
}

std::string Ipv4Text(uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}

bool CIpv4Network::Contains(uint32_t hostOrderAddress) const
{
    return (hostOrderAddress & maskOf(prefix)) == address;
}

std::string CIpv4Network::Text() const { return Ipv4Text(address) + "/" + std::to_string(prefix); }

bool CIpv4Network::Parse(std::string_view text, CIpv4Network& out)
{
    const size_t slash = text.find('/');
    uint32_t address;
    if (!ParseIpv4(text.substr(0, slash), address))
        return false;
    int prefix = 32;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || prefix < 0 || prefix > 32)
            return false;
    }
    if ((address & ~maskOf(prefix)) != 0)
        return false;
    out.address = address;
    out.prefix = prefix;
    return true;
}

bool ParseNetworkList(std::string_view text, std::vector<CIpv4Network>& out, std::string& bad)
{
    std::vector<CIpv4Network> list;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ',' || text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        size_t end = text.find_first_of(", \t", i);
        if (end == std::string_view::npos)
            end = text.size();
        CIpv4Network n;
        if (!CIpv4Network::Parse(text.substr(i, end - i), n)) {
            bad = std::string(text.substr(i, end - i));
            return false;
        }
        list.push_back(n);
        i = end;
    }
    out = std::move(list);
    return true;
}

std::string NetworkListText(const std::vector<CIpv4Network>& networks)
{
    std::string text;
    for (const auto& n : networks) {
        if (!text.empty())
            text += ",";
        text += n.Text();
    }
    return text;
}
