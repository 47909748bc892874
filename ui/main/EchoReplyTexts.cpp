// Formatting an echo reply record for the result fields.
#include "ui/main/EchoReplyTexts.h"

#include "engine/StatusText.h"

#include <cstring>

namespace tarnwick {

EchoReplyTexts FormatEchoReply(const EchoReply& reply) {
    EchoReplyTexts texts;
    texts.status = GetStatusText(reply.Status);
    texts.lagTime = std::to_string(reply.RoundTripTime) + kMillisecondsSuffix;
    texts.portAddress = std::to_string(reply.Address);
    texts.size = std::to_string(reply.DataSize) + kBytesSuffix;
    if (reply.Data[0] != '\0') {
        const void* end = std::memchr(reply.Data, '\0', kEchoDataSize);
        const std::size_t length =
            end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - reply.Data)
                           : kEchoDataSize;
        texts.echo.emplace(reply.Data, length);
    }
    texts.pointer = std::to_string(reply.DataPointer);
    return texts;
}

} // namespace tarnwick
