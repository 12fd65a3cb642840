#pragma once

// Who makes Lumarex and where its web presence lives (reserved example domains until real ones exist).
namespace maker {
inline constexpr const char* name = "Quorvel";
inline constexpr const char* webSite = "https://quorvel.example";
// The README as published on the site, at its section on usage reports.
inline constexpr const char* usageReportingPage = "https://quorvel.example/lumarex/#usage-reporting";
inline constexpr const char* updateFeed = "https://updates.quorvel.example/highlighter/appcast.xml";
} // namespace maker
