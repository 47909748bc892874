// Preloaded (LD_PRELOAD) into the echo program by the takeover test: code of the test's own that
// runs inside the confined program at a send, as a memory fault's payload would. The echo's data
// names what to try; any other echo goes out untouched.
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

namespace {

void PutChecksum(std::uint8_t* message, std::size_t length) {
    message[2] = message[3] = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; i += 2)
        sum += std::uint32_t{message[i]} << 8 | (i + 1 < length ? message[i + 1] : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    message[2] = static_cast<std::uint8_t>(~sum >> 8);
    message[3] = static_cast<std::uint8_t>(~sum);
}

} // namespace

extern "C" ssize_t sendto(int socket, const void* buffer, std::size_t length, int flags,
                          const sockaddr* to, socklen_t toLength) {
    auto* packet = static_cast<std::uint8_t*>(const_cast<void*>(buffer));
    const std::string_view data(reinterpret_cast<const char*>(packet) + 8, length - 8);
    if (data == "redirect from its own buffer") {
        // Type 5, code 1, gateway 192.0.2.1, quoting the start of an IPv4 datagram.
        static std::uint8_t redirect[8 + 28] = {5, 1, 0, 0, 192, 0, 2, 1, 0x45};
        PutChecksum(redirect, sizeof redirect);
        syscall(SYS_sendto, socket, redirect, sizeof redirect, flags, to, toLength);
    }
    if (data == "unprotect its packet") {
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        mprotect(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(packet) & ~(page - 1)),
                 page, PROT_READ | PROT_WRITE);
    }
    if (data == "rewrite its packet" || data == "unprotect its packet") {
        packet[0] = 5; // a redirect
        packet[1] = 1;
        PutChecksum(packet, length);
    }
    return syscall(SYS_sendto, socket, buffer, length, flags, to, toLength);
}
