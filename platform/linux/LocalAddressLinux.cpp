// The local address from the kernel's interface list (getifaddrs).
#include "platform/LocalAddress.h"

#include <cstring>
#include <memory>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace tarnwick::platform {
namespace {

std::vector<InterfaceAddress> ListInterfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);

    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        InterfaceAddress address;
        address.up = (entry->ifa_flags & IFF_UP) != 0;
        address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            sockaddr_in ipv4{};
            std::memcpy(&ipv4, entry->ifa_addr, sizeof ipv4);
            std::array<std::uint8_t, 4> bytes{};
            std::memcpy(bytes.data(), &ipv4.sin_addr.s_addr, bytes.size()); // network order
            address.ipv4 = bytes;
        }
        addresses.push_back(std::move(address));
    }
    return addresses;
}

class LinuxLocalAddress final : public LocalAddress {
public:
    std::string LocalIP() override { return ChooseLocalAddress(ListInterfaceAddresses()); }
};

} // namespace

LocalAddress& SystemLocalAddress() {
    static LinuxLocalAddress localAddress;
    return localAddress;
}

} // namespace tarnwick::platform
