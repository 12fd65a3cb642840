#include "client/JSONReader.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <string>

using namespace veltrace;
using nlohmann::json;

namespace {

// Equal values of equal kinds all the way down (json's own == calls 1u and 1 equal).
bool same(const json& a, const json& b) {
    if (a.type() != b.type())
        return false;
    if (a.is_array() || a.is_object()) {
        if (a.size() != b.size())
            return false;
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
            if ((a.is_object() && i.key() != j.key()) || !same(*i, *j))
                return false;
        return true;
    }
    if (a.is_number_float())
        return std::signbit(a.get<double>()) == std::signbit(b.get<double>()) && a == b;
    return a == b;
}

} // namespace

// In the C locale the stock parser is right, so it serves as the reference for what is accepted and
// for the kinds and values produced.
TEST(JSONReaderTest, AgreesWithTheStockParserInTheCLocale) {
    const std::string cases[] = {
        // structure and whitespace
        "{}",
        "[]",
        " \t\r\n[ 1 , [ ] , { } ]\n",
        R"({"a":{"b":[true,false,null]}})",
        "\xEF\xBB\xBF[1]",
        "5",
        "null",
        R"({"k":1,"k":2})",
        "[1,]",
        "[,1]",
        "{\"a\" 1}",
        "{\"a\":}",
        "{1:2}",
        "[1 2]",
        "[",
        "]",
        "",
        "  ",
        "[1]]",
        "[1] x",
        "[tru]",
        "[nulll]",
        "[True]",
        "\xEF\xBB[1]",
        "[\x0c]",
        // numbers
        "[0,-0,1,-1,18446744073709551615,18446744073709551616,-9223372036854775808,-9223372036854775809]",
        "[0.0,-0.0,1.5,-2.25e3,1E2,1e+2,1e-2,0.1,123456789012345678901234567890]",
        "[1.7976931348623157e308,4.9e-324,2.4e-324,1e-400,-1e-400,0.0000001e-400,1e-99999999999999999999]",
        "[1e400]",
        "[-1e400]",
        "[1.7976931348623159e308]",
        "[1" + std::string(400, '0') + "e-10]",
        "[0." + std::string(400, '0') + "1e300]",
        "[01]",
        "[1.]",
        "[.5]",
        "[+1]",
        "[1e]",
        "[1e+]",
        "[-]",
        "[0x10]",
        "[1.5.5]",
        "[NaN]",
        "[Infinity]",
        "[--1]",
        // strings
        R"(["", "a\"b\\c\/d\b\f\n\r\t", "\u0041\u00e9\u20AC\ud83d\ude00", "\u0000"])",
        "[\"é€😀\"]",
        R"(["\ud83d"])",
        R"(["\ude00"])",
        R"(["\ud83d\u0041"])",
        R"(["\ud83dx"])",
        R"(["\x"])",
        R"(["\u12"])",
        R"(["\u12g4"])",
        "[\"a\nb\"]",
        "[\"a\x1f\"]",
        "[\"a\x7f\"]",
        "[\"abc]",
        "[\"\\\"]",
        "[\"\xC0\x80\"]",
        "[\"\xC2\"]",
        "[\"\xE0\x9F\xBF\"]",
        "[\"\xED\xA0\x80\"]",
        "[\"\xEF\xBF\xBF\"]",
        "[\"\xF0\x8F\xBF\xBF\"]",
        "[\"\xF4\x90\x80\x80\"]",
        "[\"\xF4\x8F\xBF\xBF\"]",
        "[\"\xF5\x80\x80\x80\"]",
        "[\"\x80\"]",
        "[\"\xE2\x82\"]",
        "[\"\xE2\x28\xA1\"]",
    };
    for (const auto& text : cases) {
        const json expected = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
        json actual;
        const bool accepted = JSONReader::parse(text, 100, actual);
        EXPECT_EQ(accepted, !expected.is_discarded()) << text;
        if (accepted && !expected.is_discarded()) {
            EXPECT_TRUE(same(actual, expected))
                << text << "\n  read: " << actual.dump() << "\n  stock: " << expected.dump();
        }
    }
    // The one deliberate difference: the stock parser stops at a NUL byte as if the text ended there.
    json out;
    EXPECT_FALSE(JSONReader::parse(std::string("[1]\0", 4), 100, out));
    EXPECT_FALSE(JSONReader::parse(std::string("[1]\0[2]", 7), 100, out));
}

TEST(JSONReaderTest, DepthLimitCountsTheTopLevelValueAsOne) {
    json out;
    EXPECT_TRUE(JSONReader::parse("1", 1, out));
    EXPECT_FALSE(JSONReader::parse("1", 0, out));
    EXPECT_TRUE(JSONReader::parse("[[]]", 2, out));
    EXPECT_FALSE(JSONReader::parse("[[]]", 1, out));
    EXPECT_FALSE(JSONReader::parse("[[1]]", 2, out));
    EXPECT_FALSE(JSONReader::parse(R"({"a":{"b":1}})", 2, out));
    EXPECT_TRUE(JSONReader::parse(R"([[1],{"a":[]},2])", 3, out));
    // Far deeper than any stack would take recursively, whether refused or read.
    const int depth = 100'000;
    const std::string deep = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_FALSE(JSONReader::parse(deep, depth - 1, out));
    ASSERT_TRUE(JSONReader::parse(deep, depth, out));
    EXPECT_TRUE(out.is_array());
}
