#include "client/Network.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace veltrace;
using namespace std::string_literals;

TEST(NetworkTest, BuildURLAppendsThePathToTheBasePathAndEncodesTheQueryItemsInOrder) {
    struct Case {
        std::string base;
        std::string path;
        std::optional<std::vector<QueryItem>> items;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"https://127.0.0.1:8443/p", "/track/", {{{"ip", "1"}}}, "https://127.0.0.1:8443/p/track/?ip=1"},
        {"https://127.0.0.1:8443", "/engage/", {{{"ip", "0"}}}, "https://127.0.0.1:8443/engage/?ip=0"},
        // A trailing slash of the base is not doubled.
        {"http://127.0.0.1/p/", "/groups/", std::nullopt, "http://127.0.0.1/p/groups/"},
        // The base's own query is replaced; "+" must not reach the server as a space.
        {"https://127.0.0.1/p?old=1",
         "/track/",
         {{{"ip", "1"}, {"token", "a+b c&d=e/é"}, {"flag", std::nullopt}}},
         "https://127.0.0.1/p/track/?ip=1&token=a%2Bb%20c%26d%3De%2F%C3%A9&flag"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Network::buildURL(c.base, c.path, c.items), c.expected) << c.base;
}

TEST(NetworkTest, BuildURLRejectsWhatIsNotAnHTTPAddress) {
    for (const std::string& base : {""s, "not a url"s, "127.0.0.1/p"s, "ftp://127.0.0.1/"s, "file:///tmp/x"s,
                                    "https://"s, "https://127.0.0.1:99999/"s, "https://127.0.0.1\0.evil/"s})
        EXPECT_EQ(Network::buildURL(base, "/track/", std::vector<QueryItem>{{"ip", "1"}}), std::nullopt)
            << base;
}
