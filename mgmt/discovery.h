// Finding units: one broadcast datagram to UDP port 10005, one answer per
// unit.
#pragma once

#include "zorvan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumarc::mgmt {

constexpr uint16_t kDiscoveryPort = 10005;
constexpr size_t kDiscoveryRequestSize = 12;
constexpr size_t kDiscoveryReplySize = 1068;

// The request: PC magic, the PC's own address (number form, first octet most
// significant, little-endian on the wire), 0.
std::array<uint8_t, kDiscoveryRequestSize> discoveryRequest(uint32_t ownAddressNumberForm);

// Fills a node from a reply datagram read into a zero-filled 1068-byte
// buffer (the bytes behind a short datagram are therefore zero).
void fillUnitNode(UnitNode& node, std::span<const uint8_t, kDiscoveryReplySize> reply);

// Zorvan_SearchBox, Zorvan_SearchBoxAll and Zorvan_FreeSearchBoxAll.
uint32_t searchBox(uint32_t* address);
UnitNode* searchBoxAll();
void freeSearchBoxAll(UnitNode* head);

} // namespace lumarc::mgmt
