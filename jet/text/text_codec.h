// Text encodings of Jet files: decoded to UTF-8, and Jet 4 text encoded from it.
//
// Jet 4 stores text as UCS-2 (UTF-16LE). A text value that starts with the marker FF FE is in
// "Unicode compression": a run of one-byte characters (each the low byte of a code unit whose high
// byte is zero) until a 00 byte switches to two-byte code units, and the next 00 switches back.
// Jet 3 stores text in the database's Windows code page; Western databases use Windows-1252.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/byte_reader.h"

namespace jet {

// A text in Jet 4's stored form: "Unicode compression" (FF FE, then one byte per character) when
// `compress` is set, the text has three characters or more (shorter ones would not shrink) and
// every character lies in U+0001..U+00FF; plain UCS-2 otherwise. The inverse of DecodeJet4Text().
std::vector<std::uint8_t> EncodeJet4Text(std::string_view utf8, bool compress);
// The same, appended to `out`.
void AppendJet4Text(std::string_view utf8, bool compress, std::vector<std::uint8_t>& out);

// UTF-16LE to UTF-8; an odd trailing byte is dropped. An unpaired surrogate, which other programs
// may leave in a file, is kept as the three-byte sequence of its code unit (ED A0 80..ED BF BF, as
// in "generalised UTF-8"), which EncodeJet4Text() writes back as the same unit and the text index
// key encoder keys as that unit: nothing of the text is lost or replaced.
std::string DecodeUcs2(Bytes bytes);

// A Jet 4 text value: compressed (FF FE marker) or plain UCS-2.
std::string DecodeJet4Text(Bytes bytes);

// Windows-1252 to UTF-8. Bytes that the code page leaves unmapped (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 control characters of the same number, as Windows converts them, so that
// nothing is lost (Access keys them by the byte).
std::string DecodeCodePage(Bytes bytes);

// The Windows-1252 byte of a code point, or -1 when the code page has none. The five bytes the
// code page leaves unmapped stand for U+0081, U+008D, U+008F, U+0090 and U+009D, as in Windows'
// own conversion.
int CodePageByte(char32_t cp);

}  // namespace jet
