#pragma once

#include "client/BatchSender.h"

namespace veltrace::test {

// Test helper: a sender that never delivers, for instances whose tests are about what is stored;
// every batch is held back and stays queued, and nothing leaves the machine. Thread-safe (stateless).
class HeldBackSender : public BatchSender {
  public:
    void setServerURL(std::string) override {}
    bool requestNotAllowed() const override { return true; }
    bool sendRequest(const std::string&, FlushType, bool, const HeaderFields&, const QueryItems&) override {
        return false;
    }
    void shutdown() override {}
};

} // namespace veltrace::test
