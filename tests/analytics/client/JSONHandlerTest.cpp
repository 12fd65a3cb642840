#include "client/JSONHandler.h"

#include "LogCapture.h"
#include "ScopedLocale.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <utility>

using namespace veltrace;
using veltrace::test::LogCapture;
using veltrace::test::ScopedLocale;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string json(const VeltraceType& value) {
    return JSONHandler::serializeJSONObject(value).value_or("<nothing>");
}

} // namespace

TEST(JSONHandlerTest, NumbersAndBooleansKeepTheirJsonKinds) {
    LogCapture log;
    const PropertyMap record{
        {"t", true}, {"f", false}, {"one", 1},      {"big", std::numeric_limits<std::uint64_t>::max()},
        {"neg", -5}, {"d", 2.25},  {"float", 0.1f}, {"null", Null{}},
    };
    EXPECT_EQ(
        json(record),
        R"({"big":18446744073709551615,"d":2.25,"f":false,"float":0.1,"neg":-5,"null":null,"one":1,"t":true})");
    EXPECT_TRUE(log.take().empty());
}

TEST(JSONHandlerTest, NonFiniteNumbersBecomeStringsWithoutAMessage) {
    LogCapture log;
    const PropertyMap record{
        {"inf", kInf},
        {"nested", Array{kNaN, -std::numeric_limits<float>::infinity(), PropertyMap{{"deep", -kInf}}}},
    };
    EXPECT_EQ(json(record), R"({"inf":"inf","nested":["nan","-inf",{"deep":"-inf"}]})");
    EXPECT_TRUE(JSONHandler::makeObjectSerializable(kNaN).valueEquals("nan"));
    EXPECT_TRUE(log.take().empty());
}

TEST(JSONHandlerTest, EmptyOptionalsAreNullExceptInsideArrays) {
    EXPECT_EQ(JSONHandler::makeObjectSerializable(Optional::none()).kind(), VeltraceType::Kind::Null);
    EXPECT_EQ(json(PropertyMap{{"gone", Optional::none()}, {"kept", Optional::some(3)}}),
              R"({"gone":null,"kept":3})");
    EXPECT_EQ(json(PropertyMap{{"list", Array{Optional::some(1), Optional::none(), Optional::some("x")}}}),
              R"({"list":[1,"x"]})");
}

TEST(JSONHandlerTest, DatesAndUrlsBecomeStrings) {
    EXPECT_TRUE(JSONHandler::makeObjectSerializable(Date{1.5}).valueEquals("1970-01-01T00:00:01.500Z"));
    EXPECT_TRUE(JSONHandler::makeObjectSerializable(Date{-0.001}).valueEquals("1969-12-31T23:59:59.999Z"));
    EXPECT_TRUE(
        JSONHandler::makeObjectSerializable(Date{951782400.0}).valueEquals("2000-02-29T00:00:00.000Z"));
    // A clock reading a hair below the millisecond still prints that millisecond.
    EXPECT_TRUE(
        JSONHandler::makeObjectSerializable(Date{1700000000.123}).valueEquals("2023-11-14T22:13:20.123Z"));
    EXPECT_EQ(json(PropertyMap{{"u", Url{"https://quorvel.example/a?b=c"}}}),
              R"({"u":"https://quorvel.example/a?b=c"})");
}

// Timestamps and numbers must not follow the process's time zone or locale, neither when written nor
// when read: with a decimal comma, and with a decimal point of two bytes (U+066B), which the stock
// parser reads 1234.5 as 1234 under.
TEST(JSONHandlerTest, OutputAndInputIgnoreTimeZoneAndLocale) {
    int localesTried = 0;
    for (const auto& [name, point] :
         {std::pair{"de_DE.ISO-8859-1", ","}, std::pair{"ps_AF.UTF-8", "\u066B"}}) {
        SCOPED_TRACE(name);
        std::string encoded;
        std::optional<VeltraceType> decoded;
        {
            ScopedLocale locale(name, "Pacific/Kiritimati"); // UTC+14: any local-time leak shifts the date
            if (locale.active()) {
                ++localesTried;
                ASSERT_EQ(ScopedLocale::decimalPoint(), point);
            }
            encoded = json(PropertyMap{{"d", Date{1.5}}, {"f", 2.5f}, {"x", 1234.5}});
            decoded = JSONHandler::deserializeData(R"({"x":1234.5,"small":[-0.25,1.5e-7],"n":12})");
        }
        EXPECT_EQ(encoded, R"({"d":"1970-01-01T00:00:01.500Z","f":2.5,"x":1234.5})");
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(
            decoded->valueEquals(PropertyMap{{"x", 1234.5}, {"small", Array{-0.25, 1.5e-7}}, {"n", 12}}))
            << decoded->description();
    }
    if (localesTried < 2)
        GTEST_SKIP() << "localedef could not build every locale; only the time zone was varied";
}

TEST(JSONHandlerTest, ValuesWithoutAJsonFormBecomeTheirDescriptionWithOneMessageEach) {
    LogCapture log;
    const PropertyMap record{
        {"obj", Opaque{"<Widget 0x1>"}}, {"map", ForeignMap{{{1, "one"}}}}, {"s", "plain"}};
    EXPECT_EQ(json(record), R"({"map":"[1: \"one\"]","obj":"<Widget 0x1>","s":"plain"})");
    const auto messages = log.take();
    EXPECT_EQ(LogCapture::count(messages, "enforcing string on object"), 2u);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].function, "makeObjectSerializable(_:)");
    EXPECT_EQ(messages[0].level, LogLevel::info);
}

TEST(JSONHandlerTest, TopLevelMustBeAContainerAndArraysKeepOnlyContainers) {
    LogCapture log;
    EXPECT_EQ(json(Array{"a", 1, 2.5}), "[]");
    EXPECT_EQ(json(Array{PropertyMap{{"event", "a"}}, "stray", 3, Array{1}, PropertyMap{{"event", "b"}}}),
              R"([{"event":"a"},[1],{"event":"b"}])");
    EXPECT_TRUE(log.take().empty());

    EXPECT_FALSE(JSONHandler::serializeJSONObject("just text"));
    auto messages = log.take();
    EXPECT_EQ(LogCapture::count(messages, "object isn't valid and can't be serialzed to JSON"), 1u);

    EXPECT_FALSE(JSONHandler::encodeAPIData(42));
    messages = log.take();
    EXPECT_EQ(LogCapture::count(messages, "couldn't serialize object"), 1u);
    EXPECT_EQ(JSONHandler::encodeAPIData(Array{PropertyMap{{"k", "v"}}}).value_or(""), R"([{"k":"v"}])");
}

TEST(JSONHandlerTest, BrokenUtf8IsReplacedInsteadOfLosingTheRecord) {
    const std::string broken = std::string("ok") + char(0xff) + "!";
    EXPECT_EQ(json(PropertyMap{{"s", broken}}), "{\"s\":\"ok\xEF\xBF\xBD!\"}");
}

TEST(JSONHandlerTest, DeserializeReadsContainersAndRefusesEverythingElse) {
    const auto record = JSONHandler::deserializeData(
        R"({"event":"e","n":-3,"u":18446744073709551615,"d":0.5,"b":false,"z":null,"a":[1,{"k":"v"}]})");
    ASSERT_TRUE(record);
    const PropertyMap expected{
        {"event", "e"}, {"n", -3},     {"u", std::numeric_limits<std::uint64_t>::max()}, {"d", 0.5},
        {"b", false},   {"z", Null{}}, {"a", Array{1, PropertyMap{{"k", "v"}}}}};
    EXPECT_TRUE(record->valueEquals(expected)) << record->description();
    EXPECT_EQ(record->dictionary()->at("n").kind(), VeltraceType::Kind::Int);

    LogCapture log;
    for (const char* bad : {"", "5", "\"text\"", "null", "{\"a\":", "{\"a\":1} trailing", "\xff\xfe"})
        EXPECT_FALSE(JSONHandler::deserializeData(bad)) << bad;
    EXPECT_EQ(LogCapture::count(log.take(), "exception decoding object data"), 7u);

    // Deep nesting is refused, not followed down the stack.
    const int depth = 100000;
    EXPECT_FALSE(JSONHandler::deserializeData(std::string(depth, '[') + std::string(depth, ']')));
    const int allowed = JSONHandler::maxReadDepth;
    EXPECT_TRUE(JSONHandler::deserializeData(std::string(allowed, '[') + std::string(allowed, ']')));
}

TEST(JSONHandlerTest, EncodedRecordsReadBack) {
    const PropertyMap record{
        {"event", "$ae_session"},
        {"properties", PropertyMap{{"$os", "Linux"}, {"time", 1700000000.25}, {"tags", Array{"a", "b"}}}}};
    const auto bytes = JSONHandler::serializeJSONObject(record);
    ASSERT_TRUE(bytes);
    const auto decoded = JSONHandler::deserializeData(*bytes);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->valueEquals(record));
}
