#pragma once

#include <string>

namespace veltrace {

// Why a request to the analytics service failed. Plain value type.
class Reason {
  public:
    enum class Kind { notOKStatusCode, other, parseError, noData };

    static Reason notOKStatusCode(long statusCode) { return Reason(Kind::notOKStatusCode, statusCode, {}); }
    // A transport failure (no usable HTTP answer): refused or dropped connection, TLS, time-out.
    static Reason other(std::string error) { return Reason(Kind::other, 0, std::move(error)); }
    static Reason parseError() { return Reason(Kind::parseError, 0, {}); }
    static Reason noData() { return Reason(Kind::noData, 0, {}); }

    Kind kind() const { return kind_; }
    long statusCode() const { return statusCode_; }
    const std::string& error() const { return error_; }

    // Names the case, with its detail: "notOKStatusCode(500)", "other(<error>)", "parseError", "noData".
    std::string text() const;

  private:
    Reason(Kind kind, long statusCode, std::string error)
        : kind_(kind), statusCode_(statusCode), error_(std::move(error)) {}

    Kind kind_;
    long statusCode_;
    std::string error_;
};

} // namespace veltrace
