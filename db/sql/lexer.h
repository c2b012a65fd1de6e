// Tokens of the Jet SQL subset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db::sql {

enum class TokenKind {
  kIdentifier,  // a name, bare or in [brackets]; keywords are identifiers too
  kNumber,      // digits with an optional fraction and exponent
  kString,      // '...' with '' standing for one apostrophe
  kSymbol,      // one of  = <> < > <= >= , ( ) * ; .
  kEnd,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;        // name, number text, string content (unescaped) or symbol
  bool bracketed = false;  // a [name]: never a keyword
  std::size_t offset = 0;  // byte offset in the statement, for messages
};

// Splits a statement into tokens. Throws DbError (3075) for an unterminated string or bracket and
// for characters outside the subset.
std::vector<Token> Tokenize(std::string_view sql);

}  // namespace db::sql
