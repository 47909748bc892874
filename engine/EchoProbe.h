// One ICMP echo to a dotted address, with the reply record filled.
#pragma once

#include "engine/EchoReply.h"
#include "platform/Icmp.h"
#include "platform/MessageDialog.h"
#include "platform/SocketLibrary.h"

#include <cstdint>
#include <string>

namespace tarnwick {

inline constexpr char kEchoRequestText[] = "Echo This";
inline constexpr std::uint16_t kEchoRequestSize = sizeof(kEchoRequestText) - 1;
inline constexpr std::uint32_t kEchoTimeoutMilliseconds = 200;

// The OS services a probe uses; the program passes the system's, tests their own.
struct EchoServices {
    platform::SocketLibrary& sockets;
    platform::IcmpService& icmp;
    platform::MessageDialog& messages;
};

EchoServices SystemEchoServices(platform::MessageDialog& messages);

// Sends one echo request carrying "Echo This" and waits at most 200 ms. Returns the
// round-trip time after a reply, the negated status otherwise. Parser errors (EngineError)
// leave before anything is opened; a status with no negation raises Overflow after the
// handle and the socket library have been released.
std::int32_t PingAddress(const std::string& addressText, EchoReply& reply,
                         const EchoServices& services);

} // namespace tarnwick
