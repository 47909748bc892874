// Test-only program: one real echo of 127.0.0.1 through the system's services (the echo program
// beside it), to show which rights pinging needs once installed. Prints the status line; exits 0 only when our own request
// came back (a failure that leaves the status at 0 must not pass for a reply).
#include "engine/EchoProbe.h"
#include "engine/StatusText.h"
#include "platform/Capabilities.h"

#include <cstring>
#include <iostream>

// Start-up failures of the socket library would be shown in a window; here they go to stderr.
struct StderrMessageDialog final : tarnwick::platform::MessageDialog {
    void Show(const std::string& prompt, tarnwick::platform::MessageIcon) override {
        std::cerr << "message: " << prompt << '\n';
    }
};

int main() {
    // As the window starts: no capability kept; the echo program beside it pings.
    tarnwick::platform::GiveUpPrivileges(tarnwick::platform::SystemCapabilities());
    StderrMessageDialog messages;
    tarnwick::EchoReply reply{};
    // A timeout on a busy machine is a late answer, not a wrong one: asked again.
    for (int attempt = 0; attempt < 5 && (attempt == 0 || reply.Status == 11010); ++attempt)
        tarnwick::PingAddress("127.0.0.1", reply, tarnwick::SystemEchoServices(messages));
    std::cout << tarnwick::GetStatusText(reply.Status) << '\n';
    return reply.Status == 0 && std::memcmp(reply.Data, "Echo This", 10) == 0 ? 0 : 1;
}
