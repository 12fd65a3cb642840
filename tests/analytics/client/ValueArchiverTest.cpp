#include "client/ValueArchiver.h"

#include "ScopedLocale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace veltrace;

namespace {

VeltraceType roundTrip(const VeltraceType& value) {
    const auto bytes = ValueArchiver::archive(value);
    EXPECT_TRUE(bytes);
    auto back = ValueArchiver::unarchive(bytes.value_or(""));
    EXPECT_TRUE(back);
    return back.value_or(Opaque{"unarchive failed"});
}

} // namespace

TEST(ValueArchiverTest, EveryKindRoundTripsWithItsKind) {
    const PropertyMap everything{
        {"string", "héllo \"quoted\""},
        {"int", std::numeric_limits<std::int64_t>::min()},
        {"uint", std::numeric_limits<std::uint64_t>::max()},
        {"smallUint", 3u},
        {"double", 0.1},
        {"float", 0.1f},
        {"inf", std::numeric_limits<double>::infinity()},
        {"negInfFloat", -std::numeric_limits<float>::infinity()},
        {"bool", true},
        {"date", Date{1700000000.123456}},
        {"url", Url{"https://quorvel.example/a b"}},
        {"null", Null{}},
        {"none", Optional::none()},
        {"some", Optional::some(Array{1, "x"})},
        {"array", Array{1, 2.5, Array{}, PropertyMap{}}},
        {"nested", PropertyMap{{"deeper", PropertyMap{{"date", Date{-1.5}}}}}},
        {"foreign", ForeignMap{{{1, "one"}, {Date{2}, Null{}}}}},
    };
    const auto back = roundTrip(everything);
    ASSERT_TRUE(back.dictionary());
    const auto& map = *back.dictionary();
    ASSERT_EQ(map.size(), everything.size());
    for (const auto& [key, value] : everything) {
        if (key == "foreign")
            continue; // never equal by the value rules; checked below
        EXPECT_TRUE(map.at(key).valueEquals(value)) << key << ": " << map.at(key).description();
    }
    EXPECT_EQ(map.at("foreign").description(), everything.at("foreign").description());

    const auto nan = roundTrip(std::numeric_limits<double>::quiet_NaN());
    ASSERT_TRUE(nan.get<double>());
    EXPECT_TRUE(std::isnan(*nan.get<double>()));
}

TEST(ValueArchiverTest, ObjectsOutsideThePropertyKindsCannotBeArchived) {
    EXPECT_FALSE(ValueArchiver::archive(PropertyMap{{"ok", 1}, {"obj", Opaque{"<Widget>"}}}));
    EXPECT_FALSE(ValueArchiver::archive(Array{Optional::some(Opaque{"<Widget>"})}));
}

TEST(ValueArchiverTest, ForeignOrDamagedBytesGiveNothing) {
    const auto good = ValueArchiver::archive(PropertyMap{{"a", 1}}).value();
    for (const std::string& bad : {
             std::string(),
             std::string("garbage"),
             std::string("{\"a\":1}"),
             good.substr(0, good.size() / 2),
             std::string(R"({"format":"veltrace-archive","version":2,"root":["int",1]})"),
             std::string(R"({"format":"veltrace-archive","version":1,"root":["int","1"]})"),
             std::string(R"({"format":"veltrace-archive","version":1,"root":["what",1]})"),
             std::string(R"({"format":"veltrace-archive","version":1,"root":["int",18446744073709551615]})"),
             std::string(R"({"format":"veltrace-archive","version":1,"root":["dict",{"a":5}]})"),
         })
        EXPECT_FALSE(ValueArchiver::unarchive(bad)) << bad;

    std::string deep = R"({"format":"veltrace-archive","version":1,"root":)";
    for (int i = 0; i < 5000; ++i)
        deep += R"(["opt",)";
    deep += R"(["null"])" + std::string(5000, ']') + "}";
    EXPECT_FALSE(ValueArchiver::unarchive(deep));
}

// Stored maps are read at start-up, when a host application may already have set its locale.
TEST(ValueArchiverTest, ArchivesReadBackTheSameUnderALocaleWithAnotherDecimalPoint) {
    const PropertyMap map{{"date", Date{1700000000.125}}, {"double", -1234.5}, {"float", 0.1f}};
    const auto bytes = ValueArchiver::archive(map).value();
    veltrace::test::ScopedLocale locale("ps_AF.UTF-8", "Pacific/Kiritimati");
    if (!locale.active())
        GTEST_SKIP() << "localedef could not build ps_AF";
    EXPECT_EQ(ValueArchiver::archive(map), bytes);
    const auto back = ValueArchiver::unarchive(bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->valueEquals(map)) << back->description();
}
