#include "db/sql/lexer.h"

#include "db/error.h"

namespace db::sql {
namespace {

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Fail(std::string_view sql, std::size_t at, const std::string& why) {
  throw DbError(ErrorCode::kExpressionSyntax, "Syntaxfehler in der SQL-Anweisung bei Zeichen " +
                                                  std::to_string(at + 1) + ": " + why + " (" +
                                                  std::string(sql) + ")");
}

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    Token t;
    t.offset = i;
    if (c == '\'') {
      t.kind = TokenKind::kString;
      ++i;
      while (true) {
        if (i >= sql.size()) Fail(sql, t.offset, "Text ohne schließendes Hochkomma");
        if (sql[i] == '\'') {
          if (i + 1 < sql.size() && sql[i + 1] == '\'') {
            t.text.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text.push_back(sql[i++]);
      }
    } else if (c == '[') {
      t.kind = TokenKind::kIdentifier;
      t.bracketed = true;
      const std::size_t close = sql.find(']', i + 1);
      if (close == std::string_view::npos) Fail(sql, i, "Name ohne schließende Klammer");
      t.text = std::string(sql.substr(i + 1, close - i - 1));
      if (t.text.empty()) Fail(sql, i, "leerer Name");
      i = close + 1;
    } else if (IsDigit(c) || (c == '.' && i + 1 < sql.size() && IsDigit(sql[i + 1]))) {
      t.kind = TokenKind::kNumber;
      while (i < sql.size() && IsDigit(sql[i])) t.text.push_back(sql[i++]);
      if (i < sql.size() && sql[i] == '.') {
        t.text.push_back(sql[i++]);
        while (i < sql.size() && IsDigit(sql[i])) t.text.push_back(sql[i++]);
      }
      if (i < sql.size() && (sql[i] == 'e' || sql[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < sql.size() && (sql[j] == '+' || sql[j] == '-')) ++j;
        if (j < sql.size() && IsDigit(sql[j])) {
          while (i < j) t.text.push_back(sql[i++]);
          while (i < sql.size() && IsDigit(sql[i])) t.text.push_back(sql[i++]);
        }
      }
      if (i < sql.size() && IsNameStart(static_cast<unsigned char>(sql[i]))) {
        Fail(sql, i, "Zahl mit angehängten Buchstaben");
      }
    } else if (IsNameStart(static_cast<unsigned char>(c))) {
      t.kind = TokenKind::kIdentifier;
      while (i < sql.size() && IsNameChar(static_cast<unsigned char>(sql[i]))) {
        t.text.push_back(sql[i++]);
      }
    } else {
      t.kind = TokenKind::kSymbol;
      const std::string_view two = sql.substr(i, 2);
      if (two == "<>" || two == "<=" || two == ">=") {
        t.text = std::string(two);
        i += 2;
      } else if (std::string_view("=<>,()*;.-").find(c) != std::string_view::npos) {
        t.text = std::string(1, c);
        ++i;
      } else {
        Fail(sql, i, std::string("unerwartetes Zeichen '") + c + "'");
      }
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.offset = sql.size();
  out.push_back(end);
  return out;
}

}  // namespace db::sql
