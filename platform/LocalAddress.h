// The machine's own IPv4 address, as the main window shows it at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::platform {

// One address of one network interface, as the system lists them.
struct InterfaceAddress {
    bool up = false;
    bool loopback = false;
    std::optional<std::array<std::uint8_t, 4>> ipv4; // absent for other address families
};

// The first IPv4 address of an interface that is up and not loopback, in dotted form;
// 127.0.0.1 when there is none.
std::string ChooseLocalAddress(const std::vector<InterfaceAddress>& addresses);

class LocalAddress {
public:
    virtual ~LocalAddress() = default;
    // Four decimal numbers joined by points; never empty.
    virtual std::string LocalIP() = 0;
};

LocalAddress& SystemLocalAddress();

} // namespace tarnwick::platform
