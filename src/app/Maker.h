#pragma once

// Who makes Lumarex and where its web presence lives (reserved example domains until real ones exist).
namespace maker {
inline constexpr const char* name = "Quorvel";
inline constexpr const char* webSite = "https://quorvel.example";
inline constexpr const char* updateFeed = "https://updates.quorvel.example/highlighter/appcast.xml";
} // namespace maker
