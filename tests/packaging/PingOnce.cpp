// Test-only program: one real echo of 127.0.0.1 through the system's services, to show which
// rights pinging needs once installed. Prints the status line; exits 0 only when our own request
// came back (a failure that leaves the status at 0 must not pass for a reply).
#include "engine/EchoProbe.h"
#include "engine/EngineError.h"
#include "engine/StatusText.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

// Start-up failures of the socket library would be shown in a window; here they go to stderr.
class StderrMessageDialog final : public tarnwick::platform::MessageDialog {
public:
    void Show(const std::string& prompt, tarnwick::platform::MessageIcon) override {
        std::cerr << "message: " << prompt << '\n';
    }
};

} // namespace

int main() {
    StderrMessageDialog messages;
    tarnwick::EchoReply reply{};
    try {
        const std::int32_t result =
            tarnwick::PingAddress("127.0.0.1", reply, tarnwick::SystemEchoServices(messages));
        std::cout << tarnwick::GetStatusText(reply.Status) << '\n';
        std::cerr << "returned " << result << ", address value " << reply.Address << ", "
                  << reply.DataSize << " bytes echoed\n";
        const bool echoed =
            reply.DataSize == tarnwick::kEchoRequestSize &&
            std::memcmp(reply.Data, tarnwick::kEchoRequestText, tarnwick::kEchoRequestSize) == 0;
        return reply.Status == tarnwick::platform::ip_status::kSuccess && echoed ? 0 : 1;
    } catch (const tarnwick::EngineError& error) {
        std::cerr << "rejected address: " << error.what() << '\n';
        return 2;
    }
}
