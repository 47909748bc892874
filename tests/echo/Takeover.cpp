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

extern "C" ssize_t sendto(int socket, const void* buffer, std::size_t length, int flags,
                          const sockaddr* to, socklen_t toLength) {
    auto* packet = static_cast<std::uint8_t*>(const_cast<void*>(buffer));
    const std::string_view data(reinterpret_cast<const char*>(packet) + 8, length - 8);
    if (data == "redirect from its own buffer") {
        // Type 5, code 1, its checksum, gateway 192.0.2.1, quoting the start of an IPv4 datagram.
        static const std::uint8_t redirect[8 + 28] = {5, 1, 0xF3, 0xFC, 192, 0, 2, 1, 0x45};
        syscall(SYS_sendto, socket, redirect, sizeof redirect, flags, to, toLength);
    }
    if (data == "unprotect its packet") {
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        mprotect(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(packet) & ~(page - 1)),
                 page, PROT_READ | PROT_WRITE);
    }
    if (data == "rewrite its packet" || data == "unprotect its packet") {
        // A redirect (5, 1) instead of an echo request (8, 0), its checksum mended (RFC 1624).
        std::uint32_t sum = (~(packet[2] << 8 | packet[3]) & 0xFFFFu) + 0xF7FFu + 0x0501u;
        sum = (sum & 0xFFFF) + (sum >> 16);
        packet[0] = 5;
        packet[1] = 1;
        packet[2] = static_cast<std::uint8_t>(~sum >> 8);
        packet[3] = static_cast<std::uint8_t>(~sum);
    }
    return syscall(SYS_sendto, socket, buffer, length, flags, to, toLength);
}
