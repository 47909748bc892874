// Frames are read into a buffer of the largest size a frame can have: no input allocates.
#include "echo/Requests.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnwick::echo {
namespace {

// Fills bytes whole; false at the end of input or on a read error.
bool ReadAll(int descriptor, std::span<std::uint8_t> bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t got = read(descriptor, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int descriptor, std::span<const std::uint8_t> bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

bool ReadFrame(int descriptor, std::span<std::uint8_t, kLargestFrame> buffer,
               std::size_t& frameSize) {
    FrameLength length = 0;
    if (!ReadAll(descriptor, {reinterpret_cast<std::uint8_t*>(&length), sizeof length}))
        return false;
    frameSize = length;
    return ReadAll(descriptor, std::span(buffer).first(length));
}

JudgedRequest JudgeRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < sizeof(RequestHeader))
        return {Verdict::ShortFrame, {}};
    RequestHeader header;
    std::memcpy(&header, frame.data(), sizeof header);
    const std::span<const std::uint8_t> data = frame.subspan(sizeof header);
    if (header.version != kProtocolVersion)
        return {Verdict::UnknownVersion, {}};
    if (header.kind != RequestKind::Echo)
        return {Verdict::UnknownKind, {}};
    if (data.size() > kLargestEchoData)
        return {Verdict::DataOverLimit, {}};
    if (header.timeoutMilliseconds > kLongestTimeoutMilliseconds)
        return {Verdict::TimeoutOverLimit, {}};
    return {Verdict::Served,
            {header.destination, header.timeoutMilliseconds, header.replyCapacity, data}};
}

bool WriteGreeting(int descriptor, SocketKind socket, OpenFailure failure) {
    const Greeting greeting{kProtocolVersion, socket, failure, 0};
    std::uint8_t bytes[sizeof greeting];
    std::memcpy(bytes, &greeting, sizeof greeting);
    return WriteAll(descriptor, bytes);
}

std::span<std::uint8_t> AnswerRecord(std::span<std::uint8_t> answer, std::uint32_t capacity) {
    const std::span<std::uint8_t> room = answer.subspan(sizeof(AnswerHeader));
    return room.first(std::min<std::size_t>(room.size(), capacity));
}

bool WriteAnswer(int descriptor, std::span<std::uint8_t> answer, Verdict verdict,
                 std::uint32_t replies, std::size_t recordSize) {
    const AnswerHeader header{kProtocolVersion, verdict, 0, replies,
                              static_cast<std::uint32_t>(recordSize)};
    std::memcpy(answer.data(), &header, sizeof header);
    return WriteAll(descriptor, answer.first(sizeof header + recordSize));
}

} // namespace tarnwick::echo
