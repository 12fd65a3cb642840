#include "client/VeltraceType.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace veltrace;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(VeltraceTypeTest, ConstructorsPickTheIntendedKind) {
    using K = VeltraceType::Kind;
    EXPECT_EQ(VeltraceType("text").kind(), K::String);
    EXPECT_EQ(VeltraceType(true).kind(), K::Bool);
    EXPECT_EQ(VeltraceType(7).kind(), K::Int);
    EXPECT_EQ(VeltraceType(7L).kind(), K::Int);
    EXPECT_EQ(VeltraceType(7u).kind(), K::UInt);
    EXPECT_EQ(VeltraceType(std::uint64_t{7}).kind(), K::UInt);
    EXPECT_EQ(VeltraceType(7.0).kind(), K::Double);
    EXPECT_EQ(VeltraceType(7.0f).kind(), K::Float);
    EXPECT_EQ(VeltraceType(std::optional<int>{}).kind(), K::Optional);
    EXPECT_EQ(VeltraceType().kind(), K::Null);
    auto wrapped = VeltraceType(std::optional<int>{3});
    ASSERT_TRUE(wrapped.get<Optional>()->hasValue());
    EXPECT_EQ(wrapped.get<Optional>()->wrapped->kind(), K::Int);
}

TEST(VeltraceTypeTest, ValidityFollowsKindRules) {
    EXPECT_TRUE(VeltraceType(1.5).isValidValue());
    EXPECT_FALSE(VeltraceType(kInf).isValidValue());
    EXPECT_FALSE(VeltraceType(kNaN).isValidValue());
    EXPECT_FALSE(VeltraceType(std::numeric_limits<float>::infinity()).isValidValue());
    EXPECT_TRUE(VeltraceType(Date{kNaN}).isValidValue()); // dates and URLs are always valid
    EXPECT_TRUE(VeltraceType(Url{""}).isValidValue());

    EXPECT_TRUE(VeltraceType(Optional::none()).isValidValue());
    EXPECT_TRUE(VeltraceType(Optional::some(2)).isValidValue());
    EXPECT_FALSE(VeltraceType(Optional::some(kInf)).isValidValue());
    EXPECT_FALSE(VeltraceType(Optional::some(Opaque{"obj"})).isValidValue());
    EXPECT_FALSE(VeltraceType(Opaque{"obj"}).isValidValue());

    // Containers look at the kinds of their elements, not at the elements' validity.
    EXPECT_TRUE(VeltraceType(Array{1, kInf, "x"}).isValidValue());
    EXPECT_FALSE(VeltraceType(Array{1, Opaque{"obj"}}).isValidValue());
    EXPECT_TRUE(VeltraceType(PropertyMap{{"a", kNaN}}).isValidValue());
    EXPECT_FALSE(VeltraceType(PropertyMap{{"a", Opaque{"obj"}}}).isValidValue());
    EXPECT_FALSE(VeltraceType(ForeignMap{{{1, "one"}}}).isValidValue());
}

TEST(VeltraceTypeTest, EqualityRequiresTheSameKindAndContent) {
    EXPECT_TRUE(VeltraceType("a").valueEquals("a"));
    EXPECT_FALSE(VeltraceType("a").valueEquals("b"));
    EXPECT_FALSE(VeltraceType(1).valueEquals(1u));
    EXPECT_FALSE(VeltraceType(1.5).valueEquals(1.5f));
    EXPECT_FALSE(VeltraceType(true).valueEquals(1));
    EXPECT_FALSE(VeltraceType(kNaN).valueEquals(kNaN));
    EXPECT_TRUE(VeltraceType(Date{1.5}).valueEquals(Date{1.5}));
    EXPECT_FALSE(VeltraceType(Date{1.5}).valueEquals(1.5));
    EXPECT_TRUE(VeltraceType(Url{"https://a.example/x"}).valueEquals(Url{"https://a.example/x"}));
    EXPECT_TRUE(VeltraceType(Null{}).valueEquals(Null{}));

    EXPECT_TRUE(VeltraceType(Optional::none()).valueEquals(Optional::none()));
    EXPECT_FALSE(VeltraceType(Optional::none()).valueEquals(Optional::some(1)));
    EXPECT_TRUE(VeltraceType(Optional::some(1)).valueEquals(Optional::some(1)));
    EXPECT_FALSE(VeltraceType(Optional::some(1)).valueEquals(1));

    EXPECT_TRUE(VeltraceType(Array{1, "x"}).valueEquals(Array{1, "x"}));
    EXPECT_FALSE(VeltraceType(Array{1, "x"}).valueEquals(Array{"x", 1}));
    EXPECT_FALSE(VeltraceType(Array{1}).valueEquals(Array{1, 1}));

    const PropertyMap record{{"a", 1}, {"b", Array{true, PropertyMap{{"c", Date{2}}}}}};
    EXPECT_TRUE(VeltraceType(record).valueEquals(record));
    PropertyMap changed = record;
    changed["a"] = 2;
    EXPECT_FALSE(VeltraceType(record).valueEquals(changed));
    PropertyMap renamed{{"z", 1}, {"b", record.at("b")}};
    EXPECT_FALSE(VeltraceType(record).valueEquals(renamed));
    // A container holding a non-property value never compares equal, not even to itself.
    const VeltraceType withObject = PropertyMap{{"o", Opaque{"obj"}}};
    EXPECT_FALSE(withObject.valueEquals(withObject));
    EXPECT_FALSE(VeltraceType(Array{Opaque{"obj"}}).valueEquals(Array{Opaque{"obj"}}));
}

TEST(VeltraceTypeTest, DescriptionsOfContainersAndOptionals) {
    EXPECT_EQ(VeltraceType(Optional::none()).description(), "nil");
    EXPECT_EQ(VeltraceType(Optional::some("x")).description(), "Optional(\"x\")");
    EXPECT_EQ(VeltraceType(ForeignMap{{{1, "one"}}}).description(), "[1: \"one\"]");
    EXPECT_EQ(VeltraceType(Array{1, "a", 2.5}).description(), "[1, \"a\", 2.5]");
    EXPECT_EQ(VeltraceType(kInf).description(), "inf");
    EXPECT_EQ(VeltraceType(-std::numeric_limits<float>::infinity()).description(), "-inf");
}
