// What the window's ICMP service and the echo program (tarnwick-echo) say to each other over
// two pipes: the program's standard input carries requests, its standard output answers.
// Both ends come from one build and run on one machine, so numbers are in the machine's byte
// order. Every request starts with its length, so one the program cannot use is skipped
// whole and the next one is read from its first byte.
//
// 1. Greeting: the program's first message, sent once its socket is settled and its
//    privileges are gone, before it reads any request.
// 2. Request: a frame of at most 65535 bytes: its length (16-bit, counting the bytes after
//    it), a RequestHeader, then the echo data (the frame's remaining bytes).
// 3. Answer: exactly one per request frame, in order: an AnswerHeader, then recordSize bytes
//    of the reply record, laid out as IcmpSendEcho writes it into its reply buffer.
#pragma once

#include "contract/ReplyRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarnwick::contract {

// 2: the request lost its TTL and TOS, which the window never set.
inline constexpr std::uint8_t kProtocolVersion = 2;

enum class SocketKind : std::uint8_t {
    None = 0, // none could be opened: every request is answered with a failure record
    Ping = 1, // an unprivileged ping socket (SOCK_DGRAM)
    Raw = 2,  // a raw ICMP socket, opened with CAP_NET_RAW before it was dropped
};

struct Greeting {
    std::uint8_t version;    // kProtocolVersion
    SocketKind socket;       //
    OpenFailure openFailure; // None unless socket is None; never ProgramMissing
    std::uint8_t reserved;   // 0
};
static_assert(sizeof(Greeting) == 4);

enum class RequestKind : std::uint8_t {
    Echo = 1, // send one echo request and wait for its reply
};

// After the 16-bit frame length.
struct RequestHeader {
    std::uint8_t version;              // kProtocolVersion
    RequestKind kind;                  //
    std::uint16_t reserved;            // 0
    std::uint32_t destination;         // address value: first dotted part in the low byte
    std::uint32_t timeoutMilliseconds; // at most kLongestTimeoutMilliseconds
    std::uint32_t replyCapacity;       // the caller's reply buffer size; bounds recordSize
};
static_assert(sizeof(RequestHeader) == 16);

using FrameLength = std::uint16_t;
// The most an IPv4 echo can carry: 65535 less the IP and ICMP headers.
inline constexpr std::size_t kLargestEchoData = 65535 - 20 - 8;
inline constexpr std::size_t kLargestFrame = 65535;
inline constexpr std::uint32_t kLongestTimeoutMilliseconds = 60'000;
// A reply record: the header, the echoed data and at most 40 bytes of IP options.
inline constexpr std::size_t kLargestRecord = reply_layout::kHeaderSize + kLargestEchoData + 40;

// What became of a request.
enum class Verdict : std::uint8_t {
    // The echo was tried, or refused as IcmpSendEcho refuses it (the destination 0.0.0.0, a
    // reply buffer too small): replies and the record say how it went.
    Served = 0,
    // Refused before anything was sent; no record follows.
    ShortFrame = 1,      // the frame is shorter than a RequestHeader
    UnknownVersion = 2,  //
    UnknownKind = 3,     //
    DataOverLimit = 4,   // more than kLargestEchoData bytes of data
    TimeoutOverLimit = 5 // more than kLongestTimeoutMilliseconds
};

struct AnswerHeader {
    std::uint8_t version;     // kProtocolVersion
    Verdict verdict;          //
    std::uint16_t reserved;   // 0
    std::uint32_t replies;    // what IcmpSendEcho returns: 0 or 1
    std::uint32_t recordSize; // bytes of reply record that follow: at most replyCapacity
};
static_assert(sizeof(AnswerHeader) == 12);

// One encoder and one decoder for each message, for both ends and their tests.

std::array<std::uint8_t, sizeof(Greeting)> EncodeGreeting(SocketKind socket, OpenFailure failure);
// Nothing when the greeting is of another version.
std::optional<Greeting> DecodeGreeting(std::span<const std::uint8_t, sizeof(Greeting)> bytes);

// An echo request as the program serves it. Decoded, data points into the frame.
struct EchoRequest {
    std::uint32_t destination = 0;
    std::uint32_t timeoutMilliseconds = 0;
    std::uint32_t replyCapacity = 0;
    std::span<const std::uint8_t> data;
};

// The whole frame, its length first, into out; returns its size, or 0 when the data is over
// kLargestEchoData or out is too small.
std::size_t EncodeRequest(const EchoRequest& request, std::span<std::uint8_t> out);
inline constexpr std::size_t kLargestEncodedRequest = sizeof(FrameLength) + kLargestFrame;

struct JudgedRequest {
    Verdict verdict = Verdict::Served; // Served: the request is sound
    EchoRequest request;               // when Served
};
// A frame's bytes after its length.
JudgedRequest DecodeRequest(std::span<const std::uint8_t> frame);

std::array<std::uint8_t, sizeof(AnswerHeader)>
EncodeAnswerHeader(Verdict verdict, std::uint32_t replies, std::uint32_t recordSize);
// Nothing when the answer is of another version or says more record than may follow.
std::optional<AnswerHeader>
DecodeAnswerHeader(std::span<const std::uint8_t, sizeof(AnswerHeader)> bytes);

} // namespace tarnwick::contract
