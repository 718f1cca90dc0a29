// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The address spaces a connection may reach, from the most public to the most
// private. A redirect, a playlist's entry or a stream's segment may not lead
// to a more private space than the address of the server that named it (a
// public station's server may not steer the player to a machine on the local
// network or to a service on this one); within one space it may.

#include <optional>
#include <sys/socket.h>

namespace platform {

enum class AddressSpace {
    Public,
    Private,  // the local network: private, link-local and shared ranges
    Loopback, // this machine
};

// The space of a socket address (IPv4, IPv6, IPv4 mapped into IPv6).
AddressSpace SpaceOfAddress(const sockaddr *address);
// The same for an address in text ("10.0.0.1", "::1"); nothing when it is not one.
std::optional<AddressSpace> SpaceOfAddressText(const char *text);

// Whether a connection to the space `to` may follow from an answer of a server
// in the space `from`.
constexpr bool MayLeadTo(AddressSpace from, AddressSpace to) {
    return static_cast<int>(to) <= static_cast<int>(from);
}

} // namespace platform
