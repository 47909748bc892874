// The echo probe.
#include "engine/EchoProbe.h"

#include "engine/AddressParser.h"
#include "engine/EngineError.h"
#include "engine/SocketStartup.h"

#include <climits>

namespace tarnwick {
namespace {

// Releases the ICMP handle and the socket library on every way out of the probe.
struct ProbeResources {
    const EchoServices& services;
    platform::IcmpHandle handle;
    ~ProbeResources() {
        services.icmp.IcmpCloseHandle(handle);
        CleanupSockets(services.sockets, services.messages);
    }
};

} // namespace

EchoServices SystemEchoServices(platform::MessageDialog& messages) {
    return {platform::SystemSocketLibrary(), platform::SystemIcmpService(), messages};
}

PingOutcome ProbeAddress(const std::string& addressText, EchoReply& reply,
                         const EchoServices& services) {
    const std::int32_t address = ParseAddress(addressText);

    StartSockets(services.sockets, services.messages);
    PingOutcome outcome;
    const platform::IcmpHandle handle = services.icmp.IcmpCreateFile();
    if (handle == platform::kInvalidIcmpHandle) {
        outcome.openFailure = services.icmp.LastOpenFailure();
        outcome.echoProgram = services.icmp.EchoProgramPath();
    }
    const ProbeResources resources{services, handle};

    // The record is the reply buffer's layout (engine/EchoReply.h): the service writes into it.
    const std::uint32_t replies = services.icmp.IcmpSendEcho(
        handle, static_cast<std::uint32_t>(address), kEchoRequestText, kEchoRequestSize, nullptr,
        &reply, sizeof reply, kEchoTimeoutMilliseconds);

    if (replies != 0)
        outcome.result = reply.RoundTripTime;
    else if (reply.Status != INT_MIN)
        outcome.result = -reply.Status;
    return outcome;
}

std::int32_t PingAddress(const std::string& addressText, EchoReply& reply,
                         const EchoServices& services) {
    const PingOutcome outcome = ProbeAddress(addressText, reply, services);
    if (!outcome.result)
        throw EngineError(EngineErrorKind::Overflow, "the status has no negation");
    return *outcome.result;
}

} // namespace tarnwick
