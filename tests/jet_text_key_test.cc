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

#include "jet/index/index_page.h"
#include "jet/text/text_sort_key.h"
#include "jet/text/text_sort_tables.h"
#include "jet/text/unicode.h"

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

// ---- Characters past U+FFFF ----
//
// Each surrogate of the pair keys on its own: a two-byte weight and the accent byte 3F at its
// place. High surrogate: the unit less 10238. Low surrogate: the unit less 9992, 9990, 9988, 9986
// or 9984 for the offsets o = unit - DC00 below 8, 262, 516, 770 and the rest. The keys are the
// same in both orders. The expected keys below are worked out by hand from that rule; those of
// U+1F600 to U+1F604 ("a😀a" and its neighbours) are the bytes Access 2010 wrote for them.

struct HandKey {
  const char* what;
  std::string text;
  const char* legacy;   // key in the order of Access 2000-2007
  const char* general;  // key in the order of Access 2010 and later; null: the same
};

const std::vector<HandKey>& HandKeys() {
  static const std::vector<HandKey> keys = {
      // One character in every band of the low surrogate, and at the bands' edges.
      {"U+10000 D800 DC00, o=0", Utf8(0x10000), "B0 02 B4 F8 01 3F 3F 00", nullptr},
      {"U+20000 CJK ext. B, D840 DC00, o=0", Utf8(0x20000), "B0 42 B4 F8 01 3F 3F 00", nullptr},
      {"U+1D401 bold B, D835 DC01, o=1", Utf8(0x1D401), "B0 37 B4 F9 01 3F 3F 00", nullptr},
      {"U+1D407 bold H, DC07, o=7", Utf8(0x1D407), "B0 37 B4 FF 01 3F 3F 00", nullptr},
      {"U+1D408 bold I, DC08, o=8", Utf8(0x1D408), "B0 37 B5 02 01 3F 3F 00", nullptr},
      {"U+1D4D0 script A, DCD0, o=208", Utf8(0x1D4D0), "B0 37 B5 CA 01 3F 3F 00", nullptr},
      {"U+1D505 fraktur B, DD05, o=261", Utf8(0x1D505), "B0 37 B5 FF 01 3F 3F 00", nullptr},
      {"U+1D507 fraktur D, DD07, o=263", Utf8(0x1D507), "B0 37 B6 03 01 3F 3F 00", nullptr},
      {"U+1D538 double-struck A, DD38, o=312", Utf8(0x1D538), "B0 37 B6 34 01 3F 3F 00", nullptr},
      {"U+1F1E9 regional D, D83C DDE9, o=489", Utf8(0x1F1E9), "B0 3E B6 E5 01 3F 3F 00", nullptr},
      {"U+1F600, D83D DE00, o=512", Utf8(0x1F600), "B0 3F B6 FC 01 3F 3F 00", nullptr},
      {"U+1F603, DE03, o=515", Utf8(0x1F603), "B0 3F B6 FF 01 3F 3F 00", nullptr},
      {"U+1F604, DE04, o=516", Utf8(0x1F604), "B0 3F B7 02 01 3F 3F 00", nullptr},
      {"U+2A700 CJK ext. C, D869 DF00, o=768", Utf8(0x2A700), "B0 6B B7 FE 01 3F 3F 00", nullptr},
      {"U+1F701, D83D DF01, o=769", Utf8(0x1F701), "B0 3F B7 FF 01 3F 3F 00", nullptr},
      {"U+1F702, DF02, o=770", Utf8(0x1F702), "B0 3F B8 02 01 3F 3F 00", nullptr},
      {"U+1F355 pizza, D83C DF55, o=853", Utf8(0x1F355), "B0 3E B8 55 01 3F 3F 00", nullptr},
      {"U+1F3FF, D83C DFFF, o=1023", Utf8(0x1F3FF), "B0 3E B8 FF 01 3F 3F 00", nullptr},
      {"U+10FFFD DBFF DFFD", Utf8(0x10FFFD), "B4 01 B8 FD 01 3F 3F 00", nullptr},
      // In texts: letters before take the accent byte 02, accents and marks after keep theirs.
      {"a, U+1F600, a", "a" + Utf8(0x1F600) + "a", "4A B0 3F B6 FC 4A 01 02 3F 3F 00",
       "0E 02 B0 3F B6 FC 0E 02 01 02 3F 3F 00"},
      {"flag DE: U+1F1E9 U+1F1EA", Utf8(0x1F1E9) + Utf8(0x1F1EA),
       "B0 3E B6 E5 B0 3E B6 E6 01 3F 3F 3F 3F 00", nullptr},
      {"Pizza, U+1F355", "Pizza " + Utf8(0x1F355),
       "66 59 78 78 4A 07 B0 3E B8 55 01 02 02 02 02 02 02 3F 3F 00",
       "0E 7E 0E 32 0E A9 0E A9 0E 02 07 02 B0 3E B8 55 01 02 02 02 02 02 02 3F 3F 00"},
      {"U+1F600, e acute", Utf8(0x1F600) + "\xC3\xA9", "B0 3F B6 FC 51 01 3F 3F 0E 00",
       "B0 3F B6 FC 0E 21 01 3F 3F 0E 00"},
      {"e acute, U+1F600", "\xC3\xA9" + Utf8(0x1F600), "51 B0 3F B6 FC 01 0E 3F 3F 00",
       "0E 21 B0 3F B6 FC 01 0E 3F 3F 00"},
      // A combining acute (mark 0C) adds to the low surrogate's accent byte.
      {"U+1F600, U+0301", Utf8(0x1F600) + "\xCC\x81", "B0 3F B6 FC 01 3F 4B 00", nullptr},
      // A control after the pair: its position counts the two accent bytes (7 + 4 * 2 = 0F).
      {"U+1F600, hyphen, a", Utf8(0x1F600) + "-a",
       "B0 3F B6 FC 4A 01 3F 3F 01 01 01 80 0F 06 82 00",
       "B0 3F B6 FC 0E 02 01 3F 3F 01 01 01 80 0F 06 82 00"},
      // The emoji presentation selector is ignored.
      {"U+1F336 U+FE0F", Utf8(0x1F336) + Utf8(0xFE0F), "B0 3E B8 36 01 3F 3F 00", nullptr},
      // Unpaired surrogates, as UTF-8 carries them, key unit by unit by the same rule.
      {"D83D alone", "\xED\xA0\xBD", "B0 3F 01 3F 00", nullptr},
      {"DE00 alone", "\xED\xB8\x80", "B6 FC 01 3F 00", nullptr},
      {"DE00 before D83D", "\xED\xB8\x80\xED\xA0\xBD", "B6 FC B0 3F 01 3F 3F 00", nullptr},
      {"a, D83D, a",
       "a\xED\xA0\xBD"
       "a",
       "4A B0 3F 4A 01 02 3F 00", "0E 02 B0 3F 0E 02 01 02 3F 00"},
  };
  return keys;
}

TEST(TextKey, CharactersPastTheBmpHaveTheKeysAccessGivesThem) {
  for (TextSortOrder order : kJet4Orders) {
    for (const HandKey& k : HandKeys()) {
      const char* want =
          order == TextSortOrder::kGeneral && k.general != nullptr ? k.general : k.legacy;
      EXPECT_EQ(Hex(Key(k.text, order)), std::string(want) + " ")
          << k.what << (order == TextSortOrder::kGeneral ? " (2010)" : " (2000)");
    }
    // A descending key is the ascending one and 00, inverted, then 00.
    ByteString down;
    ASSERT_TRUE(jet::AppendTextKey(Utf8(0x1F600), order, false, down).ok());
    EXPECT_EQ(Hex(down), "4F C0 49 03 FE C0 C0 FF 00 ");
  }
}

TEST(TextKey, EverySurrogateAloneKeysByItsUnit) {
  // High surrogates weigh B002..B401, low ones B4F8..B8FF: both count up with the unit, the low
  // ones skipping the low bytes 00 and 01. Each has the accent byte 3F.
  for (TextSortOrder order : kJet4Orders) {
    std::uint32_t last = 0;
    for (std::uint32_t unit = 0xD800; unit <= 0xDFFF; ++unit) {
      std::string text;
      jet::AppendUtf8(text, unit);  // three bytes ED xx xx, as generalised UTF-8 writes it
      const ByteString key = Key(text, order);
      ASSERT_EQ(key.size(), 5u) << std::hex << unit;
      EXPECT_EQ(Hex(ByteString(key.begin() + 2, key.end())), "01 3F 00 ") << std::hex << unit;
      const std::uint32_t weight = key[0] << 8 | key[1];
      EXPECT_GT(weight, last) << std::hex << unit;
      last = weight;
      if (unit == 0xD800) {
        EXPECT_EQ(weight, 0xB002u);
      } else if (unit == 0xDBFF) {
        EXPECT_EQ(weight, 0xB401u);
      } else if (unit == 0xDC00) {
        EXPECT_EQ(weight, 0xB4F8u);
      }
      if (unit >= 0xDC00) {
        EXPECT_GE(key[1], 0x02) << std::hex << unit;
      }
    }
    EXPECT_EQ(last, 0xB8FFu);
  }
}

// Names as a table holds them, in the order of their keys. In the 2010 order every character
// past U+FFFF sorts between the private use area (A902..) and Hangul (C003..), by its surrogates'
// weights; in the 2000-2007 order between Hangul (8103..) and the private use area (E602..),
// among CJK ideographs whose weights share the range (U+5BFF 寿 weighs AD5A).
TEST(TextKey, NamesPastTheBmpSortByTheirSurrogatesWeights) {
  const std::string pua = Utf8(0xE000), hangul = "\xEA\xB0\x80", kotobuki = "\xE5\xAF\xBF";
  const std::vector<std::string> supplementary = {
      "Pizza",
      "Pizza " + Utf8(0x1F355),  // 🍕 B03E B855
      "Pizza " + Utf8(0x1F600),  // 😀 B03F B6FC
      "Pizzen",
      Utf8(0x10000),                  // B002 B4F8
      Utf8(0x1D401) + "io",           // 𝐁io: B037 B4F9
      Utf8(0x1D401) + Utf8(0x1D422),  // 𝐁𝐢: B037 B4F9 B037 B51C
      Utf8(0x1D4D0),                  // 𝓐 B037 B5CA
      Utf8(0x1D538),                  // 𝔸 B037 B634
      Utf8(0x1F1E9) + Utf8(0x1F1EA),  // 🇩🇪 B03E B6E5 B03E B6E6
      Utf8(0x1F355),                  // 🍕 B03E B855
      Utf8(0x1F600),                  // 😀 B03F B6FC
      Utf8(0x1F604),                  // 😄 B03F B702
      Utf8(0x20000),                  // 𠀀 B042 B4F8
      Utf8(0x2A700),                  // 𪜀 B06B B7FE
      Utf8(0x10FFFD),                 // B401 B8FD
  };
  // The letters of "𝐁io" (4A.., 0E..) weigh less than the surrogates of "𝐁𝐢".
  for (TextSortOrder order : kJet4Orders) {
    std::vector<std::string> names = supplementary;
    if (order == TextSortOrder::kGeneral) {
      names.insert(names.begin() + 4, pua);
      names.push_back(hangul);
      names.push_back(kotobuki);  // FDFF4A85
    } else {
      names.insert(names.begin() + 4, hangul);
      names.insert(names.begin() + 5, kotobuki);
      names.push_back(pua);
    }
    for (std::size_t i = 1; i < names.size(); ++i) {
      EXPECT_LT(jet::CompareKeys(Key(names[i - 1], order), Key(names[i], order)), 0)
          << names[i - 1] << " / " << names[i]
          << (order == TextSortOrder::kGeneral ? " (2010)" : "");
    }
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
      // One word over two lines. NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
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
