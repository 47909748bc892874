// Parser and status-text costs per call, with heap allocations counted per call.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"
#include "engine/StatusText.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc, so free is the match here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace {

void CountAllocations(benchmark::State& state, long before) {
    state.counters["allocs_per_call"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}

void ParseValid(benchmark::State& state, const char* text) {
    const std::string input = text;
    const long before = allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(tarnwick::ParseAddress(input));
    CountAllocations(state, before);
}
BENCHMARK_CAPTURE(ParseValid, loopback, "127.0.0.1");
BENCHMARK_CAPTURE(ParseValid, longest, "255.255.255.255");
BENCHMARK_CAPTURE(ParseValid, three_parts, "www.example.org");

// The floor: the C library's own dotted-quad parser on the same text.
void ParseFloor(benchmark::State& state, const char* text) {
    const std::string input = text;
    in_addr address{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(inet_pton(AF_INET, input.c_str(), &address));
        benchmark::DoNotOptimize(address);
    }
}
BENCHMARK_CAPTURE(ParseFloor, loopback, "127.0.0.1");

void ParseRejected(benchmark::State& state, const char* text) {
    const std::string input = text;
    for (auto _ : state) {
        try {
            tarnwick::ParseAddress(input);
        } catch (const tarnwick::EngineError& error) {
            benchmark::DoNotOptimize(error.kind());
        }
    }
}
BENCHMARK_CAPTURE(ParseRejected, five_parts, "1.2.3.4.5");
BENCHMARK_CAPTURE(ParseRejected, not_a_number, "a.b.c.d");

void StatusText(benchmark::State& state, std::int32_t code) {
    const long before = allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(tarnwick::GetStatusText(code));
    CountAllocations(state, before);
}
BENCHMARK_CAPTURE(StatusText, success, 0);
BENCHMARK_CAPTURE(StatusText, timed_out, 11010);
BENCHMARK_CAPTURE(StatusText, fallback, -2147483647 - 1);

} // namespace

BENCHMARK_MAIN();
