// Fuzzes the echo program's request reading: the input is what arrives on its standard input,
// read frame by frame and judged as the program does, each served request's record room taken
// from an answer buffer of exactly the largest answer's size (so AddressSanitizer sees any
// overrun).
#include "echo/Requests.h"
#include "fuzz/Require.h"

#include <sys/mman.h>
#include <unistd.h>

#include <memory>

namespace {

using namespace tarnwick::echo;
using tarnwick::fuzz::Require;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int input = memfd_create("requests", MFD_CLOEXEC);
    Require(input >= 0 && write(input, data, size) == static_cast<ssize_t>(size) &&
                lseek(input, 0, SEEK_SET) == 0,
            "no input file");
    static std::uint8_t frame[kLargestFrame];
    const auto answer = std::make_unique<std::uint8_t[]>(kLargestAnswer);
    std::size_t consumed = 0;
    for (std::size_t frameSize = 0; ReadFrame(input, frame, frameSize);) {
        consumed += sizeof(FrameLength) + frameSize;
        Require(consumed <= size, "read past the input");
        const JudgedRequest judged = DecodeRequest({frame, frameSize});
        if (judged.verdict != Verdict::Served)
            continue;
        const EchoRequest& request = judged.request;
        Require(request.data.size() <= kLargestEchoData &&
                    request.timeoutMilliseconds <= kLongestTimeoutMilliseconds,
                "a request over the limits served");
        Require(request.data.data() >= frame &&
                    request.data.data() + request.data.size() == frame + frameSize,
                "data outside the frame");
        const std::span<std::uint8_t> record =
            AnswerRecord({answer.get(), kLargestAnswer}, request.replyCapacity);
        Require(record.size() <= request.replyCapacity, "record room over the capacity");
        if (!record.empty())
            record.back() = 0; // within the answer buffer
    }
    close(input);
    return 0;
}
