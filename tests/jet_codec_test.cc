// The engine's small codecs: RC4, text encodings, case folding, value text forms and property
// blobs, each against hand-made bytes whose meaning is known.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/value.h"
#include "jet/file/rc4.h"
#include "jet/table/properties.h"
#include "jet/text/text_codec.h"
#include "jet/text/unicode.h"
#include "tools/csv_export.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Rc4, MatchesThePublishedTestVector) {
  const std::string key = "Key";
  std::string text = "Plaintext";
  Bytes data(text.begin(), text.end());
  jet::Rc4 rc4(Bytes(key.begin(), key.end()));
  rc4.Apply(data);
  const Bytes expected = {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3};
  EXPECT_EQ(data, expected);
}

TEST(TextCodec, Ucs2WithSurrogatesAndBrokenPairs) {
  // "Aß€" + U+1F600 as a surrogate pair, then a lone high surrogate.
  const Bytes b = {0x41, 0x00, 0xDF, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8};
  EXPECT_EQ(jet::DecodeUcs2(b), "Aß€\xF0\x9F\x98\x80\xED\xA0\xBD");
  // Unpaired surrogates are kept as their units and write back unchanged: alone, reversed, and
  // a high one before a letter.
  const std::vector<Bytes> broken = {
      {0x3D, 0xD8},
      {0x00, 0xDE},
      {0x00, 0xDE, 0x3D, 0xD8},
      {0x3D, 0xD8, 0x61, 0x00},
      {0x61, 0x00, 0xFF, 0xDF, 0xFF, 0xDB},
  };
  for (const auto& units : broken) {
    const std::string text = jet::DecodeJet4Text(units);
    EXPECT_EQ(jet::EncodeJet4Text(text, true), units) << text;
  }
  EXPECT_EQ(jet::DecodeUcs2(Bytes{0x00, 0xDE, 0x3D, 0xD8}), "\xED\xB8\x80\xED\xA0\xBD");
}

TEST(TextCodec, CompressedTextTogglesBetweenOneAndTwoByteRuns) {
  // Marker, "Gr", switch to two-byte units for "üß€", switch back for "e".
  const Bytes b = {0xFF, 0xFE, 'G', 'r', 0x00, 0xFC, 0x00, 0xDF, 0x00, 0xAC, 0x20, 0x00, 'e'};
  EXPECT_EQ(jet::DecodeJet4Text(b), "Grüß€e");
  // One-byte runs cover Latin-1 directly.
  EXPECT_EQ(jet::DecodeJet4Text(Bytes{0xFF, 0xFE, 0xE4, 0xF6}), "äö");
  // Without the marker the bytes are plain UCS-2.
  EXPECT_EQ(jet::DecodeJet4Text(Bytes{'O', 0, 'K', 0}), "OK");
  // A truncated two-byte unit is dropped, not read past the end.
  EXPECT_EQ(jet::DecodeJet4Text(Bytes{0xFF, 0xFE, 'a', 0x00, 0x41}), "a");
}

TEST(TextCodec, Windows1252IncludingUnmappedBytes) {
  const Bytes b = {'K', 0xE4, 's', 'e', ' ', 0x80, ' ', 0x84, 0x93, ' ', 0x81, 0x9D};
  EXPECT_EQ(jet::DecodeCodePage(b), "Käse € „“ \u0081\u009D");
}

TEST(CaseFolding, IgnoresLetterCaseButKeepsAccents) {
  EXPECT_EQ(jet::FoldCase("BestandesÄnderung"), jet::FoldCase("bestandesänderung"));
  EXPECT_EQ(jet::FoldCase("SALATE"), "salate");
  EXPECT_NE(jet::FoldCase("Saláte"), jet::FoldCase("Salate"));
  EXPECT_EQ(jet::FoldCase("ŁÓDŹ"), "łódź");
  EXPECT_EQ(jet::FoldCase("ΑΒΓ Жук"), "αβγ жук");
  EXPECT_EQ(jet::FoldCase("×ß"), "×ß");
  // Malformed UTF-8 folds to replacement characters instead of failing.
  EXPECT_EQ(jet::FoldCase("\xC3"), "\xEF\xBF\xBD");
}

// Every script with letter case, as Windows and Wine fold names: Unicode's simple mappings where
// they go back and forth, nothing else.
TEST(CaseFolding, EveryScriptThatHasLetterCase) {
  struct Case {
    const char* upper;
    const char* lower;
  };
  for (const Case& c : {
           Case{"ÄPFEL", "äpfel"}, Case{"PHỞ", "phở"},  // Vietnamese: Latin Extended Additional
           Case{"ǍǏǑ ȘȚ", "ǎǐǒ șț"},                    // Latin Extended-B
           Case{"ΆΈΉ ΣΟΦΊΑ", "άέή σοφία"}, Case{"ἈἘ", "ἀἐ"},      // Greek, Greek Extended
           Case{"ЄЇҐ ӘӨ", "єїґ әө"}, Case{"ԱՐՄԵՆԻԱ", "արմենիա"},  // Cyrillic, Armenian
           Case{"ႠႡ", "ⴀⴁ"}, Case{"ᲐᲑ", "აბ"},                // Georgian
           Case{"ⰀⰁ", "ⰰⰱ"}, Case{"ⲀⲂ", "ⲁⲃ"},
           Case{"ＡＢＣ", "ａｂｃ"},  // Glagolitic, Coptic, fullwidth
           Case{"ⅫⒶ", "ⅻⓐ"},          // Roman numerals, circled letters
       }) {
    EXPECT_EQ(jet::FoldCase(c.upper), c.lower) << c.upper;
    EXPECT_EQ(jet::UpperCase(c.lower), c.upper) << c.lower;
  }
  // No partner that goes back and forth: left as they are, in both directions.
  for (const char* same : {"İ", "ı", "ſ", "ς", "ẞ", "ß", "ǅ", "ϴ", "\u212A", "\u212B", "\u0149"}) {
    EXPECT_EQ(jet::FoldCase(same), same) << same;
    EXPECT_EQ(jet::UpperCase(same), same) << same;
  }
  // Beyond U+FFFF (two UTF-16 code units each): nothing folds.
  EXPECT_EQ(jet::FoldCase("\U00010400\U0001E900"), "\U00010400\U0001E900");
  EXPECT_EQ(jet::UpperCase("straße"), "STRAßE");
}

TEST(ValueText, CurrencyDecimalAndGuidForms) {
  EXPECT_EQ(jet::FormatCurrency({45800}), "4.5800");
  EXPECT_EQ(jet::FormatCurrency({0}), "0.0000");
  EXPECT_EQ(jet::FormatCurrency({-115000}), "-11.5000");
  EXPECT_EQ(jet::FormatCurrency({INT64_MIN}), "-922337203685477.5808");
  EXPECT_EQ(jet::FormatDecimal({false, 18, 0, 0, 0}), "0");
  EXPECT_EQ(jet::FormatDecimal({true, 18, 3, 0, 1}), "-0.001");
  EXPECT_EQ(jet::FormatDecimal({false, 28, 0, 1, 0}), "18446744073709551616");
  jet::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(jet::FormatGuid(g), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
}

TEST(CsvField, FollowsMdbExportDateRules) {
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{45291.0})), "\"12/31/23 00:00:00\"");
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{0.875})), "\"12/30/99 21:00:00\"");
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{60})), "\"02/28/00 00:00:00\"");
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{61})), "\"03/01/00 00:00:00\"");
  // Rounding never carries into the day; values outside [0, 1e6] print as a zero date.
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{0.999999999})), "\"12/30/99 24:00:00\"");
  EXPECT_EQ(inspect::CsvField(jet::Value(jet::DateTime{-1.5})), "\"01/00/00 00:00:00\"");
}

TEST(CsvField, QuotingNullAndNumbers) {
  EXPECT_EQ(inspect::CsvField(jet::Value()), "");
  EXPECT_EQ(inspect::CsvField(jet::Value(std::string())), "");
  EXPECT_EQ(inspect::CsvField(jet::Value(std::string("Pimm's \"No. 1\""))),
            "\"Pimm's \"\"No. 1\"\"\"");
  EXPECT_EQ(inspect::CsvField(jet::Value(true)), "1");
  EXPECT_EQ(inspect::CsvField(jet::Value(0.8645833333333334)), "0.8645833333333334");
  EXPECT_EQ(inspect::CsvField(jet::Value(804983.375f)), "804983.38");
  EXPECT_EQ(inspect::CsvField(jet::Value(std::uint8_t{200})), "200");
}

// Builds an LvProp blob (Jet 4) with one name chunk and one property set.
Bytes PropertyBlob(const std::string& object, std::uint8_t type, const Bytes& data) {
  auto put16 = [](Bytes& b, std::size_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto put32 = [&](Bytes& b, std::size_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
  };
  auto ucs2 = [](const std::string& s) {
    Bytes b;
    for (char c : s) {
      b.push_back(static_cast<std::uint8_t>(c));
      b.push_back(0);
    }
    return b;
  };
  Bytes blob = {'M', 'R', '2', 0};
  Bytes names;
  const Bytes name = ucs2("DefaultValue");
  put16(names, name.size());
  names.insert(names.end(), name.begin(), name.end());
  put32(blob, names.size() + 6);
  put16(blob, 0x80);
  blob.insert(blob.end(), names.begin(), names.end());

  Bytes set;
  const Bytes obj = ucs2(object);
  put32(set, obj.size() + 6);
  put16(set, obj.size());
  set.insert(set.end(), obj.begin(), obj.end());
  put16(set, data.size() + 8);
  set.push_back(0);
  set.push_back(type);
  put16(set, 0);
  put16(set, data.size());
  set.insert(set.end(), data.begin(), data.end());
  put32(blob, set.size() + 6);
  put16(blob, 0x00);
  blob.insert(blob.end(), set.begin(), set.end());
  return blob;
}

TEST(Properties, ParsesNamesSetsAndValues) {
  const Bytes blob = PropertyBlob("Preis", 10, Bytes{'0', 0});
  auto sets = jet::ParseProperties(blob, jet::kJet4Format);
  ASSERT_TRUE(sets.ok()) << sets.status().ToString();
  ASSERT_EQ(sets->count("Preis"), 1u);
  const jet::Property& p = sets->at("Preis").at("DefaultValue");
  EXPECT_EQ(p.type_code, 10);
  EXPECT_EQ(p.value, jet::Value(std::string("0")));
}

TEST(Properties, CorruptBlobsFailCleanly) {
  const Bytes good = PropertyBlob("Preis", 1, Bytes{0xFF});
  EXPECT_FALSE(jet::ParseProperties(Bytes{'X', 'Y', 'Z', 0}, jet::kJet4Format).ok());
  // Every truncation and every single-byte overwrite either parses or fails; none overreads
  // (the sanitizer build checks the latter).
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    (void)jet::ParseProperties(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
                               jet::kJet4Format);
  }
  for (std::size_t at = 4; at < good.size(); ++at) {
    for (std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
      Bytes b = good;
      b[at] = v;
      auto r = jet::ParseProperties(b, jet::kJet4Format);
      if (!r.ok()) {
        EXPECT_EQ(r.status().code(), jet::ErrorCode::kCorrupt);
      }
    }
  }
  // A value that names a property beyond the name list is corrupt.
  Bytes bad = good;
  bad[bad.size() - 5] = 9;  // name index
  EXPECT_FALSE(jet::ParseProperties(bad, jet::kJet4Format).ok());
}

}  // namespace
