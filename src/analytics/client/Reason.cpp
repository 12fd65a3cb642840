#include "client/Reason.h"

namespace veltrace {

std::string Reason::text() const {
    switch (kind_) {
    case Kind::notOKStatusCode:
        return "notOKStatusCode(" + std::to_string(statusCode_) + ")";
    case Kind::other:
        return "other(" + error_ + ")";
    case Kind::parseError:
        return "parseError";
    case Kind::noData:
        return "noData";
    }
    return "unknown";
}

} // namespace veltrace
