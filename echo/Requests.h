// Reading request frames, judging them, and writing the greeting and answers.
#pragma once

#include "echo/EchoProtocol.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::echo {

struct EchoRequest {
    std::uint32_t destination = 0;
    std::uint32_t timeoutMilliseconds = 0;
    std::uint32_t replyCapacity = 0;
    std::span<const std::uint8_t> data;
};

struct JudgedRequest {
    Verdict verdict = Verdict::Served; // Served: the request is sound
    EchoRequest request;               // when Served; data points into the frame
};

// One frame's bytes after its length, into buffer; false at the end of input, where a frame
// cut short ends it too.
bool ReadFrame(int descriptor, std::span<std::uint8_t, kLargestFrame> buffer,
               std::size_t& frameSize);

JudgedRequest JudgeRequest(std::span<const std::uint8_t> frame);

bool WriteGreeting(int descriptor, SocketKind socket, OpenFailure failure);

// Writes answer's first bytes: an AnswerHeader, then recordSize bytes already in place after
// it (see AnswerRecord). False when the reader is gone.
bool WriteAnswer(int descriptor, std::span<std::uint8_t> answer, Verdict verdict,
                 std::uint32_t replies, std::size_t recordSize);

// Where a record is written in an answer buffer, bounded by the request's reply capacity.
std::span<std::uint8_t> AnswerRecord(std::span<std::uint8_t> answer, std::uint32_t capacity);

inline constexpr std::size_t kLargestAnswer = sizeof(AnswerHeader) + kLargestRecord;

} // namespace tarnwick::echo
