// Messages are copied field for field through their structures: both ends share the build.
#include "contract/EchoProtocol.h"

#include <cstring>

namespace tarnwick::contract {
namespace {

template <typename Message> std::array<std::uint8_t, sizeof(Message)> Bytes(const Message& m) {
    std::array<std::uint8_t, sizeof(Message)> bytes;
    std::memcpy(bytes.data(), &m, sizeof m);
    return bytes;
}

template <typename Message> Message From(std::span<const std::uint8_t, sizeof(Message)> bytes) {
    Message message;
    std::memcpy(&message, bytes.data(), sizeof message);
    return message;
}

} // namespace

std::array<std::uint8_t, sizeof(Greeting)> EncodeGreeting(SocketKind socket, OpenFailure failure) {
    return Bytes(Greeting{kProtocolVersion, socket, failure, 0});
}

std::optional<Greeting> DecodeGreeting(std::span<const std::uint8_t, sizeof(Greeting)> bytes) {
    const auto greeting = From<Greeting>(bytes);
    if (greeting.version != kProtocolVersion)
        return std::nullopt;
    return greeting;
}

std::size_t EncodeRequest(const EchoRequest& request, std::span<std::uint8_t> out) {
    const RequestHeader header{
        kProtocolVersion,    RequestKind::Echo,           0,
        request.destination, request.timeoutMilliseconds, request.replyCapacity};
    const std::size_t size = sizeof(FrameLength) + sizeof header + request.data.size();
    if (request.data.size() > kLargestEchoData || out.size() < size)
        return 0;
    const auto length = static_cast<FrameLength>(sizeof header + request.data.size());
    std::memcpy(out.data(), &length, sizeof length);
    std::memcpy(out.data() + sizeof length, &header, sizeof header);
    if (!request.data.empty())
        std::memcpy(out.data() + sizeof length + sizeof header, request.data.data(),
                    request.data.size());
    return size;
}

JudgedRequest DecodeRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < sizeof(RequestHeader))
        return {Verdict::ShortFrame, {}};
    const auto header = From<RequestHeader>(frame.first<sizeof(RequestHeader)>());
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

std::array<std::uint8_t, sizeof(AnswerHeader)>
EncodeAnswerHeader(Verdict verdict, std::uint32_t replies, std::uint32_t recordSize) {
    return Bytes(AnswerHeader{kProtocolVersion, verdict, 0, replies, recordSize});
}

std::optional<AnswerHeader>
DecodeAnswerHeader(std::span<const std::uint8_t, sizeof(AnswerHeader)> bytes) {
    const auto answer = From<AnswerHeader>(bytes);
    if (answer.version != kProtocolVersion || answer.recordSize > kLargestRecord)
        return std::nullopt;
    return answer;
}

} // namespace tarnwick::contract
