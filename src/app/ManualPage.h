#pragma once

#include <string>

// The manual page lumarex(1) in roff, made from the option texts of CommandLine::help() at build time,
// so --help and the manual cannot drift apart. Thread-safety: pure function.
class ManualPage {
  public:
    // `date` as YYYY-MM-DD (the release date, so the page does not change from build to build).
    static std::string render(const std::string& version, const std::string& date);
    // Text as roff shows it literally: backslashes, hyphens and leading dots escaped.
    static std::string escape(const std::string& text);
};
