// On a busy machine an answer can come late, never wrong: a test asks again while its answer
// is late and judges any other.
#pragma once

namespace tarnwick::testing {

// Asks, and again while late(answer) (at most 10 times in all); counts the asks in asked.
template <typename Ask, typename Late>
auto RetryWhileLate(Ask ask, Late late, int* asked = nullptr) {
    auto answer = ask();
    for (int attempt = 1;; ++attempt) {
        if (asked)
            ++*asked;
        if (attempt == 10 || !late(answer))
            return answer;
        answer = ask();
    }
}

} // namespace tarnwick::testing
