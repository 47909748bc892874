// Local-address reader for tests: gives a chosen address and counts the reads.
#pragma once

#include "platform/LocalAddress.h"

#include <string>

namespace tarnwick::testing {

class FakeLocalAddress final : public platform::LocalAddress {
public:
    explicit FakeLocalAddress(std::string address) : address_(std::move(address)) {}
    std::string LocalIP() override {
        ++reads;
        return address_;
    }
    int reads = 0;

private:
    std::string address_;
};

} // namespace tarnwick::testing
