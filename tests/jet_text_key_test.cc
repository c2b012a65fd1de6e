// Text index keys in the Jet 4 General orders for the whole of Unicode: every code point of the
// Basic Multilingual Plane against the reference lists of Access's sort codes (read from the
// shared fixtures when present), and the characters shops write into product data today: emoji
// with and without variation selectors, CJK, Arabic, Hebrew, Thai, combining accents, and
// unpaired surrogates.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "jet/index_page.h"
#include "jet/text_codec.h"
#include "jet/text_sort_key.h"
#include "jet/text_sort_tables.h"

namespace {

using jet::ByteString;
using jet::TextSortOrder;

const std::string kSortOrders = std::string(PI_SHARED_FIXTURE_DIR) + "/sort-orders";

constexpr TextSortOrder kJet4Orders[] = {TextSortOrder::kGeneralLegacy, TextSortOrder::kGeneral};

std::string Hex(const ByteString& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

std::string Utf8(char32_t cp) {
  std::string s;
  jet::AppendUtf8(s, cp);
  return s;
}

ByteString Key(const std::string& text, TextSortOrder order) {
  ByteString key;
  const jet::Status s = jet::AppendTextKey(text, order, true, key);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return key;
}

ByteString HexBytes(std::string hex) {
  if (hex.size() % 2) hex.insert(hex.begin(), '0');
  ByteString out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// The reference line of every listed code point of an order: the first 256, then the rest of the
// BMP without the surrogates. Empty when the lists are missing.
std::map<char32_t, std::string> ReferenceLines(const std::string& stem) {
  std::map<char32_t, std::string> lines;
  std::ifstream first(kSortOrders + "/index_codes_" + stem + ".txt");
  std::ifstream ext(kSortOrders + "/index_codes_ext_" + stem + ".txt");
  if (!first || !ext) return lines;
  std::string line;
  for (char32_t cp = 0; cp < 0x100 && std::getline(first, line); ++cp) lines[cp] = line;
  for (char32_t cp = 0x100; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (!std::getline(ext, line)) break;
    lines[cp] = line;
  }
  return lines;
}

const std::map<char32_t, std::string>& Reference(TextSortOrder order) {
  static const auto legacy = ReferenceLines("genleg");
  static const auto general = ReferenceLines("gen");
  return order == TextSortOrder::kGeneralLegacy ? legacy : general;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 1;
  while (true) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// The key Access gives a text of one character, from its reference line: the primary weight,
// 01, the accent part (its trailing bytes up to 02 dropped), the kana and control parts, 00.
ByteString ReferenceKey(const std::string& line) {
  const std::vector<std::string> f = Fields(line);
  ByteString primary, accent, extra;
  switch (line[0]) {
    case 'X':
      break;
    case 'S':
      primary = HexBytes(f[0]);
      break;
    case 'I':
      primary = HexBytes(f[0]);
      accent = HexBytes(f[1]);
      break;
    case 'P':
      accent = HexBytes(f[0]);
      break;
    case 'U':  // control at position 0: 80 07, 06, the code
      extra = {0x01, 0x01, 0x01, 0x80, 0x07, 0x06};
      for (std::uint8_t b : HexBytes(f[0])) extra.push_back(b);
      break;
    case 'Z':  // kana: a small one has the size mark 2 (A0), a normal one's 3 is dropped
      primary = HexBytes(f[0]);
      if (!f[1].empty()) accent = HexBytes(f[1]);
      extra = {0x01, 0x01};
      if (f[2] == "1") extra.push_back(0xA0);
      extra.insert(extra.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
      break;
    default:
      ADD_FAILURE() << line;
  }
  while (!accent.empty() && accent.back() <= 0x02) accent.pop_back();
  ByteString key = primary;
  key.push_back(0x01);
  key.insert(key.end(), accent.begin(), accent.end());
  key.insert(key.end(), extra.begin(), extra.end());
  key.push_back(0x00);
  return key;
}

// The primary weight of a listed plain character.
ByteString Primary(char32_t cp, TextSortOrder order) {
  const std::string& line = Reference(order).at(cp);
  EXPECT_EQ(line[0], 'S') << std::hex << static_cast<unsigned>(cp);
  return HexBytes(Fields(line)[0]);
}

#define SKIP_WITHOUT_REFERENCE()                                             \
  if (Reference(TextSortOrder::kGeneralLegacy).empty() ||                    \
      Reference(TextSortOrder::kGeneral).empty()) {                          \
    GTEST_SKIP() << "sort order reference lists missing in " << kSortOrders; \
  }

TEST(TextKeyReference, EveryListedCharacterAloneHasTheKeyOfItsReferenceLine) {
  SKIP_WITHOUT_REFERENCE();
  for (TextSortOrder order : kJet4Orders) {
    std::size_t checked = 0, wrong = 0;
    for (const auto& [cp, line] : Reference(order)) {
      const ByteString key = Key(Utf8(cp), order);
      ++checked;
      if (key != ReferenceKey(line) && ++wrong <= 10) {
        ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(cp) << " " << line << ": "
                      << Hex(key);
      }
    }
    EXPECT_EQ(checked, 0x10000u - 0x800u);
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(TextKeyReference, TextsInOtherScriptsChainTheirPrimaryWeights) {
  SKIP_WITHOUT_REFERENCE();
  const std::vector<std::u32string> texts = {
      U"寿司",          // CJK
      U"שלום",          // Hebrew: plain letters in both orders
      U"\u0416\u0416",  // Cyrillic
  };
  for (TextSortOrder order : kJet4Orders) {
    for (const std::u32string& t : texts) {
      std::string text;
      ByteString want;
      for (char32_t cp : t) {
        text += Utf8(cp);
        const ByteString p = Primary(cp, order);
        want.insert(want.end(), p.begin(), p.end());
      }
      want.push_back(0x01);
      want.push_back(0x00);
      EXPECT_EQ(Hex(Key(text, order)), Hex(want)) << text;
    }
  }
}

TEST(TextKeyReference, VariationSelectorsAndJoinersAreIgnoredAsListed) {
  SKIP_WITHOUT_REFERENCE();
  for (TextSortOrder order : kJet4Orders) {
    for (char32_t cp : {0xFE0Eu, 0xFE0Fu, 0x200Du}) {
      EXPECT_EQ(Reference(order).at(cp), "X");
    }
    // 🌶️ is U+1F336 and the emoji presentation selector.
    EXPECT_EQ(Key("Scharf \xF0\x9F\x8C\xB6\xEF\xB8\x8F", order),
              Key("Scharf \xF0\x9F\x8C\xB6", order));
    EXPECT_NE(Key("Scharf \xF0\x9F\x8C\xB6", order), Key("Scharf ", order));
  }
}

// ---- Without the reference lists ----

TEST(TextKey, BothJet4TablesCoverEveryCodeUnit) {
  for (const jet::SortCodeTable* t : {&jet::kGeneralLegacyCodes, &jet::kGeneralCodes}) {
    EXPECT_EQ(t->end, 0x10000u);
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      const jet::SortCodeRun* run = jet::FindSortCode(*t, static_cast<std::uint16_t>(unit));
      ASSERT_NE(run, nullptr) << unit;
      EXPECT_LE(run->first, unit);
      if (run + 1 < t->runs + t->count) {
        EXPECT_GT((run + 1)->first, unit);
      }
    }
  }
  EXPECT_EQ(jet::FindSortCode(jet::kGeneral97Codes, 0x100), nullptr);
}

TEST(TextKey, CharactersPastTheBmpAreKeyedAsTheirSurrogatePair) {
  for (TextSortOrder order : kJet4Orders) {
    SCOPED_TRACE(static_cast<int>(order));
    // U+1F355 is D83C DF55: FF 40+n/254 02+n%254 for n = 0x3C and 0x755.
    EXPECT_EQ(Hex(Key("\xF0\x9F\x8D\x95", order)), "FF 40 3E FF 47 65 01 00 ");
    // Supplementary characters sort by code point, after every character of the BMP.
    const std::vector<char32_t> ascending = {0xFFFC,  0x10000, 0x1F336, 0x1F355,
                                             0x1F600, 0x20000, 0x10FFFD};
    for (std::size_t i = 1; i < ascending.size(); ++i) {
      EXPECT_LT(
          jet::CompareKeys(Key(Utf8(ascending[i - 1]), order), Key(Utf8(ascending[i]), order)), 0)
          << std::hex << static_cast<unsigned>(ascending[i]);
    }
    for (char32_t bmp : {0x4E00u, 0xAC00u, 0xE000u, 0xF8FFu, 0xFFE5u}) {
      EXPECT_LT(jet::CompareKeys(Key(Utf8(bmp), order), Key(Utf8(0x10000), order)), 0)
          << static_cast<unsigned>(bmp);
    }
    // Group names as shops write them: in the order of their letters, the emoji last.
    const std::vector<std::string> names = {"Pizza", "Pizza \xF0\x9F\x8D\x95",
                                            "Pizza \xF0\x9F\x8D\x95 gro\xC3\x9F", "Pizzen"};
    for (std::size_t i = 1; i < names.size(); ++i) {
      EXPECT_LT(jet::CompareKeys(Key(names[i - 1], order), Key(names[i], order)), 0) << names[i];
    }
    // A descending key inverts the ascending one.
    ByteString down;
    ASSERT_TRUE(jet::AppendTextKey("\xF0\x9F\x8D\x95", order, false, down).ok());
    EXPECT_EQ(Hex(down), "00 BF C1 00 B8 9A FE FF 00 ");
  }
}

TEST(TextKey, UnpairedSurrogatesHaveKeysOfTheirOwn) {
  // A surrogate alone, as UTF-8 carries it (ED A0 BC is D83C, ED BD 95 is DF55).
  const std::string high = "\xED\xA0\xBC", low = "\xED\xBD\x95", pair = "\xF0\x9F\x8D\x95";
  for (TextSortOrder order : kJet4Orders) {
    SCOPED_TRACE(static_cast<int>(order));
    EXPECT_EQ(Hex(Key(high, order)), "FF 40 3E 01 00 ");
    EXPECT_EQ(Hex(Key(low, order)), "FF 47 65 01 00 ");
    EXPECT_EQ(Key(high + low, order), Key(pair, order));
    EXPECT_LT(jet::CompareKeys(Key(high, order), Key(pair, order)), 0);
    EXPECT_NE(Key("a" + high, order), Key("a", order));
    EXPECT_NE(Key(low + "a", order), Key(high + "a", order));
    // Malformed UTF-8 and code points past U+10FFFF enter as U+FFFD, which is ignored.
    EXPECT_EQ(Key("a\xFF", order), Key("a", order));
    EXPECT_EQ(Key("a\xF7\xBF\xBF\xBF", order), Key("a", order));
  }
}

TEST(TextKey, AComposedAndADecomposedAccentGiveOneKey) {
  for (TextSortOrder order : kJet4Orders) {
    SCOPED_TRACE(static_cast<int>(order));
    const ByteString composed = Key("Caf\xC3\xA9", order);
    EXPECT_EQ(Key("Cafe\xCC\x81", order), composed);
    EXPECT_LT(jet::CompareKeys(Key("Cafe", order), composed), 0);
    EXPECT_LT(jet::CompareKeys(composed, Key("Cafes", order)), 0);
    // A mark at the start stands as an accent byte of its own.
    EXPECT_NE(Key("\xCC\x81"
                  "a",
                  order),
              Key("a", order));
  }
}

TEST(TextKey, ArabicHebrewThaiAndCjkTextsHaveDistinctOrderedKeys) {
  const std::vector<std::string> texts = {
      "\xD9\x85\xD8\xB7\xD8\xB9\xD9\x85",  // مطعم
      "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",  // שלום
      "\xE0\xB8\x82\xE0\xB9\x89\xE0\xB8\xB2\xE0\xB8\xA7\xE0\xB8\x9C\xE0\xB8\xB1\xE0\xB8"
      "\x94",                      // ข้าวผัด
      "\xE5\xAF\xBF\xE5\x8F\xB8",  // 寿司
      "\xE3\x81\x99\xE3\x81\x97",  // すし
  };
  for (TextSortOrder order : kJet4Orders) {
    SCOPED_TRACE(static_cast<int>(order));
    std::map<ByteString, std::string> seen;
    for (const std::string& t : texts) {
      const ByteString k = Key(t, order);
      EXPECT_GT(k.size(), 2u) << t;
      EXPECT_TRUE(seen.emplace(k, t).second) << t << " shares its key";
    }
    // The Thai tone mark ้ (U+0E49) weighs as an accent: after the bare consonant, before the next.
    const ByteString bare = Key("\xE0\xB8\x82", order),
                     marked = Key("\xE0\xB8\x82\xE0\xB9\x89", order);
    EXPECT_LT(jet::CompareKeys(bare, marked), 0);
    EXPECT_LT(jet::CompareKeys(marked, Key("\xE0\xB8\x83", order)), 0);
  }
}

TEST(TextKey, The255UnitCutCanSplitAPair) {
  for (TextSortOrder order : kJet4Orders) {
    // 254 letters and an emoji: only the emoji's high surrogate enters the key.
    const std::string text = std::string(254, 'x') + "\xF0\x9F\x8D\x95";
    EXPECT_EQ(Key(text, order), Key(std::string(254, 'x') + "\xED\xA0\xBC", order));
    EXPECT_EQ(Key(text + "tail", order), Key(text, order));
  }
}

}  // namespace
