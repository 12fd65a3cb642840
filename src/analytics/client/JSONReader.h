// Strict JSON reading that does not depend on the process's locale. The stock parser reads numbers
// with strtod after swapping '.' for the decimal point it saw in localeconv(): a decimal point of more
// than one byte (ps_AF) or a setlocale on another thread between the two reads (a host application may
// set its locale at any time) turns 1234.5 into 1234. Numbers here always use '.', via from_chars.
// Thread safety: stateless; may be called from any thread.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string_view>

namespace veltrace {

class JSONReader {
  public:
    JSONReader() = delete;

    // Reads one JSON text (RFC 8259, a leading UTF-8 byte order mark allowed) into `out`. False, with
    // `out` unspecified, for anything else: trailing bytes, ill-formed UTF-8 or lone surrogates in
    // strings, numbers beyond the range of double, or a value nested deeper than `maxDepth` (the
    // top-level value is at depth 1). Numbers keep the kinds the stock parser gives them: unsigned
    // for non-negative integers, signed for negative ones, double otherwise or when they do not fit.
    // Nesting is followed without recursion, so the limit guards memory, not the stack.
    static bool parse(std::string_view text, int maxDepth, nlohmann::json& out);
};

} // namespace veltrace
