// Conversions of field values that the import relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "db/value.h"
#include "tests/db_test_util.h"

namespace {

using db::DbError;
using db::Value;

using testing_support::ErrorOf;

TEST(ValueToText, NullFailsWithInvalidUseOfNull) {
  EXPECT_EQ(ErrorOf([] { (void)db::ToText(Value()); }), 94);
}

TEST(ValueToText, EveryKindHasATextForm) {
  EXPECT_EQ(db::ToText(Value(std::string("Salate"))), "Salate");
  EXPECT_EQ(db::ToText(Value(std::string())), "");
  EXPECT_EQ(db::ToText(Value(std::int32_t{-42})), "-42");
  EXPECT_EQ(db::ToText(Value(std::int16_t{7})), "7");
  EXPECT_EQ(db::ToText(Value(std::uint8_t{255})), "255");
  EXPECT_EQ(db::ToText(Value(true)), "True");
  EXPECT_EQ(db::ToText(Value(false)), "False");
  EXPECT_EQ(db::ToText(Value(4.9)), "4.9");
  EXPECT_EQ(db::ToText(Value(0.1 + 0.2)), "0.3");
  EXPECT_EQ(db::ToText(Value(1.5f)), "1.5");
  EXPECT_EQ(db::ToText(Value(jet::Currency{49000})), "4.9");
  EXPECT_EQ(db::ToText(Value(jet::Currency{20000})), "2");
  EXPECT_EQ(db::ToText(Value(jet::Currency{-5})), "-0.0005");
  EXPECT_EQ(db::ToText(Value(jet::DateTime{45291.0})), "2023-12-31");
  EXPECT_EQ(db::ToText(Value(jet::DateTime{0.875})), "21:00:00");
  EXPECT_EQ(db::ToText(Value(jet::DateTime{45291.5})), "2023-12-31 12:00:00");
  EXPECT_EQ(db::ToText(Value(jet::Decimal{true, 18, 2, 0, 12345})), "-123.45");
}

TEST(ValueToInt32, IntegersAndNumericTextConvert) {
  EXPECT_EQ(db::ToInt32(Value(std::string("1"))), 1);
  EXPECT_EQ(db::ToInt32(Value(std::string(" 12 "))), 12);
  EXPECT_EQ(db::ToInt32(Value(std::int16_t{-3})), -3);
  EXPECT_EQ(db::ToInt32(Value(std::int32_t{2147483647})), 2147483647);
  EXPECT_EQ(db::ToInt32(Value(true)), -1);
}

TEST(ValueToInt32, RoundsHalfToEven) {
  EXPECT_EQ(db::ToInt32(Value(2.5)), 2);
  EXPECT_EQ(db::ToInt32(Value(3.5)), 4);
  EXPECT_EQ(db::ToInt32(Value(-2.5)), -2);
  EXPECT_EQ(db::ToInt32(Value(jet::Currency{25000})), 2);
  EXPECT_EQ(db::ToInt32(Value(jet::Currency{35000})), 4);
  EXPECT_EQ(db::ToInt32(Value(jet::Currency{-35000})), -4);
  EXPECT_EQ(db::ToInt32(Value(jet::Currency{14999})), 1);
}

TEST(ValueToInt32, FailuresCarryTheirNumbers) {
  EXPECT_EQ(ErrorOf([] { (void)db::ToInt32(Value()); }), 94);
  EXPECT_EQ(ErrorOf([] { (void)db::ToInt32(Value(3e9)); }), 6);
  EXPECT_EQ(ErrorOf([] { (void)db::ToInt32(Value(std::string("abc"))); }), 13);
  EXPECT_EQ(ErrorOf([] { (void)db::ToInt32(Value(std::string())); }), 13);
  EXPECT_EQ(ErrorOf([] { (void)db::ToInt32(Value(jet::ByteString{1, 2})); }), 13);
}

TEST(ValueToSingle, CountsBecomeSinglePrecision) {
  EXPECT_EQ(db::ToSingle(Value(std::int32_t{249})), 249.0f);
  EXPECT_EQ(db::ToSingle(Value(std::int32_t{0})), 0.0f);
  EXPECT_EQ(db::ToSingle(Value(std::string("2.5"))), 2.5f);
  EXPECT_EQ(ErrorOf([] { (void)db::ToSingle(Value()); }), 94);
  EXPECT_EQ(ErrorOf([] { (void)db::ToSingle(Value(1e300)); }), 6);
}

}  // namespace
