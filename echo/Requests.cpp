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

bool WriteGreeting(int descriptor, SocketKind socket, OpenFailure failure) {
    return WriteAll(descriptor, EncodeGreeting(socket, failure));
}

std::span<std::uint8_t> AnswerRecord(std::span<std::uint8_t> answer, std::uint32_t capacity) {
    const std::span<std::uint8_t> room = answer.subspan(sizeof(AnswerHeader));
    return room.first(std::min<std::size_t>(room.size(), capacity));
}

bool WriteAnswer(int descriptor, std::span<std::uint8_t> answer, Verdict verdict,
                 std::uint32_t replies, std::size_t recordSize) {
    const auto header =
        EncodeAnswerHeader(verdict, replies, static_cast<std::uint32_t>(recordSize));
    std::copy(header.begin(), header.end(), answer.begin());
    return WriteAll(descriptor, answer.first(header.size() + recordSize));
}

} // namespace tarnwick::echo
