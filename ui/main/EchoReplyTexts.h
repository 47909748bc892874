// The texts that the six ping result fields show for one echo reply record.
#pragma once

#include "engine/EchoReply.h"

#include <optional>
#include <string>

namespace tarnwick {

inline constexpr char kMillisecondsSuffix[] = " (milliseconds)";
inline constexpr char kBytesSuffix[] = " (bytes)";

struct EchoReplyTexts {
    std::string status;              // Text2
    std::string lagTime;             // Text3
    std::string portAddress;         // Text4
    std::string size;                // Text5
    std::optional<std::string> echo; // Text6; absent when the reply carried no data
    std::string pointer;             // Text7
};

// Numbers as plain signed decimals. The echoed data ends at its first NUL; a data area with
// no NUL at all is shown whole (250 characters) rather than dropped.
EchoReplyTexts FormatEchoReply(const EchoReply& reply);

} // namespace tarnwick
