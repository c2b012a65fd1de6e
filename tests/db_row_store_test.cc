// The compact store of decoded rows gives back every value exactly as it took it.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "db/sql/row_store.h"

namespace {

using db::Value;
using db::sql::Row;
using db::sql::RowStore;

// One row with a value of every kind, varied by `i`: texts and bytes of growing length so that
// rows cross the store's blocks, floating-point values whose bits matter.
Row RowWithEveryKind(int i) {
  const double odd[] = {-0.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e-310, 0.1};
  jet::Decimal decimal;
  decimal.negative = i % 2 == 0;
  decimal.precision = 18;
  decimal.scale = 4;
  decimal.high = static_cast<std::uint64_t>(i);
  decimal.low = ~std::uint64_t{0} - static_cast<std::uint64_t>(i);
  jet::Guid guid;
  guid.bytes[static_cast<std::size_t>(i) % 16] = static_cast<std::uint8_t>(i);
  return {Value(),
          Value(i % 2 == 1),
          Value(static_cast<std::uint8_t>(i)),
          Value(static_cast<std::int16_t>(-i)),
          Value(static_cast<std::int32_t>(i * 100003)),
          Value(jet::Currency{-12345678901234LL * i}),
          Value(static_cast<float>(odd[i % 5])),
          Value(odd[i % 5]),
          Value(jet::DateTime{45000.25 + i}),
          Value(std::string(static_cast<std::size_t>(i * 37 % 5000), 'x') + "äß€"),
          Value(jet::ByteString(static_cast<std::size_t>(i % 300), static_cast<std::uint8_t>(i))),
          Value(guid),
          Value(decimal),
          Value(std::string())};
}

// Values equal as stored: floating-point numbers compared by their bits (NaN, -0.0).
bool SameBits(const Value& a, const Value& b) {
  if (a.is<double>() && b.is<double>()) {
    return std::bit_cast<std::uint64_t>(a.as<double>()) ==
           std::bit_cast<std::uint64_t>(b.as<double>());
  }
  if (a.is<float>() && b.is<float>()) {
    return std::bit_cast<std::uint32_t>(a.as<float>()) ==
           std::bit_cast<std::uint32_t>(b.as<float>());
  }
  return a == b;
}

TEST(RowStore, EveryKindOfValueComesBackBitForBitAcrossBlocks) {
  RowStore store;
  constexpr int kRows = 3000;  // several megabytes: many blocks
  for (int i = 0; i < kRows; ++i) store.push_back(RowWithEveryKind(i));
  ASSERT_EQ(store.size(), static_cast<std::size_t>(kRows));
  for (int i = 0; i < kRows; i += 7) {
    const Row expected = RowWithEveryKind(i);
    const Row row = store[static_cast<std::size_t>(i)];
    ASSERT_EQ(row.size(), expected.size());
    for (std::size_t c = 0; c < expected.size(); ++c) {
      EXPECT_TRUE(SameBits(row[c], expected[c])) << "row " << i << ", column " << c;
      EXPECT_TRUE(SameBits(store.value(static_cast<std::size_t>(i), c), expected[c]))
          << "row " << i << ", column " << c;
    }
  }
  // A column the row does not have reads as Null; an empty row stays empty.
  EXPECT_TRUE(store.value(0, 99).is_null());
  store.push_back(Row());
  EXPECT_TRUE(store[store.size() - 1].empty());
}

TEST(RowStore, RowsCopiedToAnotherStoreKeepTheirValues) {
  RowStore from;
  for (int i = 0; i < 500; ++i) from.push_back(RowWithEveryKind(i));
  RowStore to;
  for (std::size_t r = 0; r < from.size(); r += 3) to.AppendFrom(from, r);
  ASSERT_EQ(to.size(), 167u);
  for (std::size_t r = 0; r < to.size(); ++r) {
    const Row a = to[r];
    const Row b = from[r * 3];
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t c = 0; c < a.size(); ++c) EXPECT_TRUE(SameBits(a[c], b[c]));
  }
}

}  // namespace
