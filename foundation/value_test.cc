#include "foundation/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace hv {
namespace {

struct Reading {
    const char* name;
    Value value;
    int32_t intValue;
    int64_t longLongValue;
    bool boolValue;
};

class NumericReadingTest : public testing::TestWithParam<Reading> {};

TEST_P(NumericReadingTest, ReadsLikeFoundation) {
    const Reading& r = GetParam();
    EXPECT_EQ(r.value.intValue(), r.intValue);
    EXPECT_EQ(r.value.longLongValue(), r.longLongValue);
    EXPECT_EQ(r.value.boolValue(), r.boolValue);
}

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kLongMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kLongMin = std::numeric_limits<int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Values, NumericReadingTest,
    testing::Values(
        Reading{"nil", Value(), 0, 0, false},
        Reading{"integer", Value::integer(42), 42, 42, true},
        Reading{"negative", Value::integer(-7), -7, -7, true},
        // 2^32 + 5 keeps only its low 32 bits; 2^31 wraps to INT_MIN.
        Reading{"wideInteger", Value::integer(4294967301LL), 5, 4294967301LL, true},
        Reading{"wrapsNegative", Value::integer(2147483648LL), kIntMin, 2147483648LL, true},
        Reading{"zeroAboveLowBits", Value::integer(4294967296LL), 0, 4294967296LL, true},
        Reading{"realTruncates", Value::real(2.9), 2, 2, true},
        Reading{"negativeRealTruncatesUp", Value::real(-2.9), -2, -2, true},
        Reading{"smallRealIsTrue", Value::real(0.25), 0, 0, true},
        Reading{"hugeRealSaturates", Value::real(1e30), kIntMax, kLongMax, true},
        Reading{"hugeNegativeRealSaturates", Value::real(-1e30), kIntMin, kLongMin, true},
        Reading{"infinity", Value::real(INFINITY), kIntMax, kLongMax, true},
        Reading{"nan", Value::real(NAN), 0, 0, true},
        Reading{"justBelowIntLimit", Value::real(2147483647.75), kIntMax, 2147483647, true},
        Reading{"true", Value::boolean(true), 1, 1, true},
        Reading{"false", Value::boolean(false), 0, 0, false},
        Reading{"plainString", Value("123"), 123, 123, true},
        Reading{"blanksAndSign", Value(" \t\n-45xyz"), -45, -45, true},
        Reading{"plusSign", Value("+8"), 8, 8, true},
        Reading{"noDigits", Value("abc"), 0, 0, false},
        Reading{"signOnly", Value("-"), 0, 0, false},
        Reading{"emptyString", Value(""), 0, 0, false},
        Reading{"decimalStopsAtPoint", Value("3.99"), 3, 3, true},
        Reading{"overflowSaturates", Value("99999999999999999999999"), kIntMax, kLongMax, true},
        Reading{"negativeOverflowSaturates", Value("-99999999999999999999999"), kIntMin, kLongMin,
                true},
        Reading{"int32Overflow", Value("3000000000"), kIntMax, 3000000000LL, true},
        Reading{"exactMinimum", Value("-9223372036854775808"), kIntMin, kLongMin, true},
        Reading{"yesText", Value("YES"), 0, 0, true},
        Reading{"trueText", Value("true"), 0, 0, true},
        Reading{"noText", Value("NO"), 0, 0, false},
        Reading{"zeros", Value("  -000"), 0, 0, false},
        Reading{"leadingZerosThenDigit", Value("007"), 7, 7, true},
        Reading{"date", Value(Date{1000.0}), 0, 0, false},
        Reading{"array", Value(Array{Value::integer(1)}), 0, 0, false},
        Reading{"null", Value(Null{}), 0, 0, false}),
    [](const testing::TestParamInfo<Reading>& info) { return std::string(info.param.name); });

TEST(ValueTest, DictionaryLookupFindsStringKeysOnly) {
    const Value dict(Dictionary{{Value("a"), Value::integer(1)},
                                {Value::integer(2), Value("integer key")},
                                {Value("b"), Value("two")}});
    EXPECT_EQ(dict["a"], Value::integer(1));
    EXPECT_EQ(dict["b"], Value("two"));
    EXPECT_TRUE(dict["2"].isNil());
    EXPECT_TRUE(dict["missing"].isNil());
    EXPECT_TRUE(Value("a")["a"].isNil());
    EXPECT_TRUE(Value()["a"].isNil());
}

TEST(ValueTest, EqualityIsStructuralAndKindSensitive) {
    EXPECT_EQ(Value::integer(5, 'i'), Value::integer(5, 'q'));
    EXPECT_EQ(Value::real(1.5, 'f'), Value::real(1.5, 'd'));
    EXPECT_NE(Value::integer(1), Value::boolean(true));
    EXPECT_NE(Value::integer(1), Value::real(1.0));
    EXPECT_NE(Value(), Value(Null{}));
    EXPECT_EQ(Value(), Value());
    EXPECT_NE(Value("a"), Value("b"));
    EXPECT_EQ(Value(Array{Value("x"), Value::integer(2)}), Value(Array{Value("x"), Value::integer(2)}));
    EXPECT_NE(Value(Array{Value("x")}), Value(Array{Value("x"), Value()}));
    EXPECT_EQ(Value(Data{1, 2, 3}), Value(Data{1, 2, 3}));
    EXPECT_NE(Value(Data{1, 2, 3}), Value(Data{1, 2}));
    EXPECT_NE(Value(Date{10.0, true, "GMT", std::nullopt}), Value(Date{10.0, true, "UTC", std::nullopt}));
    EXPECT_NE(Value(Date{10.0, true}), Value(Date{10.0, false}));
    EXPECT_NE(Value(Integer{-1, 'q', false}), Value(Integer{-1, 'Q', true}));
    EXPECT_NE(Value::real(NAN), Value::real(NAN));
}

struct Thing : Object {
    std::string_view className() const override { return "Thing"; }
};

TEST(ValueTest, ObjectsCompareByIdentity) {
    auto a = std::make_shared<Thing>();
    auto b = std::make_shared<Thing>();
    EXPECT_EQ(Value(a), Value(a));
    EXPECT_NE(Value(a), Value(b));
    EXPECT_EQ(Value(a).identity(), a.get());
}

TEST(ValueTest, NullHandlesStandForEmptyOrNil) {
    EXPECT_TRUE(Value(std::shared_ptr<Object>()).isNil());
    EXPECT_TRUE(Value(static_cast<const char*>(nullptr)).isNil());
    const Value s(std::shared_ptr<const std::string>{});
    ASSERT_NE(s.string(), nullptr);
    EXPECT_EQ(*s.string(), "");
    const Value a(std::shared_ptr<const Array>{});
    ASSERT_NE(a.array(), nullptr);
    EXPECT_TRUE(a.array()->empty());
}

TEST(ValueTest, CopiesShareContainers) {
    const Value a(Array{Value("x")});
    const Value copy = a;
    EXPECT_EQ(copy.identity(), a.identity());
    EXPECT_EQ(copy.array(), a.array());
    EXPECT_EQ(Value("x").identity(), nullptr);
}

}  // namespace
}  // namespace hv
