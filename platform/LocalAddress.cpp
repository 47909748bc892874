// Choosing the one local address to show among the machine's interface addresses.
#include "platform/LocalAddress.h"

namespace tarnwick::platform {

std::string ChooseLocalAddress(const std::vector<InterfaceAddress>& addresses) {
    for (const InterfaceAddress& address : addresses) {
        if (!address.up || address.loopback || !address.ipv4)
            continue;
        const auto& bytes = *address.ipv4;
        return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
               std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
    }
    return "127.0.0.1";
}

} // namespace tarnwick::platform
