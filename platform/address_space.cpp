// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/address_space.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>

namespace platform {

namespace {

// An IPv4 address in host order.
AddressSpace SpaceOfIpv4(std::uint32_t address) {
    const auto in = [address](std::uint32_t network, int bits) {
        return (address >> (32 - bits)) == (network >> (32 - bits));
    };
    // 0.0.0.0/8 reaches this machine's services on Linux.
    if (in(0x7F000000, 8) || in(0x00000000, 8))
        return AddressSpace::Loopback;
    if (in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0xA9FE0000, 16) ||
        in(0x64400000, 10))
        return AddressSpace::Private;
    return AddressSpace::Public;
}

AddressSpace SpaceOfIpv6(const in6_addr &address) {
    const unsigned char *bytes = address.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
        std::uint32_t v4 = 0;
        std::memcpy(&v4, bytes + 12, sizeof v4);
        return SpaceOfIpv4(ntohl(v4));
    }
    if (IN6_IS_ADDR_LOOPBACK(&address) || IN6_IS_ADDR_UNSPECIFIED(&address))
        return AddressSpace::Loopback;
    // Unique local fc00::/7 and link-local fe80::/10.
    if ((bytes[0] & 0xFE) == 0xFC || (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80))
        return AddressSpace::Private;
    return AddressSpace::Public;
}

} // namespace

AddressSpace SpaceOfAddress(const sockaddr *address) {
    if (address->sa_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, address, sizeof v4);
        return SpaceOfIpv4(ntohl(v4.sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, address, sizeof v6);
        return SpaceOfIpv6(v6.sin6_addr);
    }
    return AddressSpace::Loopback; // a local socket: this machine
}

std::optional<AddressSpace> SpaceOfAddressText(const char *text) {
    in_addr v4{};
    if (inet_pton(AF_INET, text, &v4) == 1)
        return SpaceOfIpv4(ntohl(v4.s_addr));
    in6_addr v6{};
    if (inet_pton(AF_INET6, text, &v6) == 1)
        return SpaceOfIpv6(v6);
    return std::nullopt;
}

} // namespace platform
