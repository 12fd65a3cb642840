#pragma once

#include "client/BatchSender.h"

namespace veltrace {

// A sender for an instance that must not deliver: every batch is held back and stays queued.
// Thread-safe (stateless).
class UndeliveredSender : public BatchSender {
  public:
    void setServerURL(const std::string&) override {}
    bool requestNotAllowed() const override { return true; }
    bool sendRequest(const std::string&, FlushType, bool, const HeaderFields&, const QueryItems&) override {
        return false;
    }
    void cancelAll() override {}
};

} // namespace veltrace
