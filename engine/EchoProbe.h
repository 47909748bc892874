// One ICMP echo to a dotted address, with the reply record filled.
#pragma once

#include "engine/EchoReply.h"
#include "platform/Icmp.h"
#include "platform/MessageDialog.h"
#include "platform/SocketLibrary.h"

#include <cstdint>
#include <optional>
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

// Everything one echo tells its caller beyond the record.
struct PingOutcome {
    // The round-trip time after a reply, the negated status otherwise; none for a status
    // that has no negation.
    std::optional<std::int32_t> result;
    // Why no ICMP handle could be opened (the echo then fails with a general failure).
    contract::OpenFailure openFailure = contract::OpenFailure::None;
    // With an open failure: the file that a CAP_NET_RAW grant lets echo.
    std::string echoProgram;
};

// Sends one echo request carrying "Echo This" and waits at most 200 ms. Parser errors
// (EngineError) leave before anything is opened; every other outcome is in the record and the
// returned outcome, after the handle and the socket library have been released.
PingOutcome ProbeAddress(const std::string& addressText, EchoReply& reply,
                         const EchoServices& services);

// ProbeAddress's number: the round-trip time after a reply, the negated status otherwise; a
// status with no negation raises Overflow.
std::int32_t PingAddress(const std::string& addressText, EchoReply& reply,
                         const EchoServices& services);

} // namespace tarnwick
