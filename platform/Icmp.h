// ICMP echo service with the IcmpCreateFile/IcmpSendEcho/IcmpCloseHandle contract; the reply
// record it writes, its status codes and why no handle opened are contract/ReplyRecord.h's.
#pragma once

#include "contract/ReplyRecord.h"

#include <cstdint>
#include <string>

namespace tarnwick::platform {

using IcmpHandle = std::intptr_t;
inline constexpr IcmpHandle kInvalidIcmpHandle = -1;

class IcmpService {
public:
    virtual ~IcmpService() = default;

    // A handle for echo requests, or kInvalidIcmpHandle when none can be opened.
    virtual IcmpHandle IcmpCreateFile() = 0;
    // Why the most recent IcmpCreateFile returned kInvalidIcmpHandle; None after a handle.
    virtual contract::OpenFailure LastOpenFailure() const = 0;

    // Sends one echo request to destinationAddress (the address value: first dotted part in
    // the low byte) and waits up to timeoutMilliseconds. Returns the number of replies stored
    // in replyBuffer (0 or 1). On failure writes the failure's status into the reply's Status
    // field when replySize leaves room for it, and that status is never success (0); never
    // writes past replySize.
    virtual std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                                       const void* requestData, std::uint16_t requestSize,
                                       const void* requestOptions, void* replyBuffer,
                                       std::uint32_t replySize,
                                       std::uint32_t timeoutMilliseconds) = 0;

    virtual bool IcmpCloseHandle(IcmpHandle handle) = 0;

    // The file that a CAP_NET_RAW grant lets echo, named when telling the user how to allow
    // pinging.
    virtual std::string EchoProgramPath() const = 0;
};

// The process-wide echo service of this platform.
IcmpService& SystemIcmpService();

} // namespace tarnwick::platform
