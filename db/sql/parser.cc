#include "db/sql/parser.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "db/error.h"
#include "db/sql/lexer.h"
#include "jet/text/unicode.h"

namespace db::sql {
namespace {

// Words that cannot be used as bare names in the subset.
constexpr std::string_view kReserved[] = {"select", "from",   "where", "group", "by",   "and",
                                          "or",     "is",     "not",   "null",  "as",   "delete",
                                          "order",  "having", "join",  "union", "into", "distinct"};

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql), tokens_(Tokenize(sql)) {}

  Statement ParseStatement() {
    if (IsKeyword("select")) {
      Statement s = ParseSelect();
      ExpectEnd();
      return s;
    }
    if (IsKeyword("delete")) {
      Statement s = ParseDelete();
      ExpectEnd();
      return s;
    }
    throw DbError(
        ErrorCode::kInvalidStatement,
        "Ungültige SQL-Anweisung: 'SELECT' oder 'DELETE' erwartet (" + std::string(sql_) + ")");
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Take() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

  bool IsKeyword(std::string_view word) const {
    const Token& t = Peek();
    return t.kind == TokenKind::kIdentifier && !t.bracketed && jet::FoldCase(t.text) == word;
  }
  bool IsSymbol(std::string_view s) const {
    return Peek().kind == TokenKind::kSymbol && Peek().text == s;
  }
  bool AcceptKeyword(std::string_view word) {
    if (!IsKeyword(word)) return false;
    ++pos_;
    return true;
  }
  bool AcceptSymbol(std::string_view s) {
    if (!IsSymbol(s)) return false;
    ++pos_;
    return true;
  }

  [[noreturn]] void Fail(const std::string& why) const {
    const Token& t = Peek();
    const std::string near = t.kind == TokenKind::kEnd ? "am Ende" : "bei '" + t.text + "'";
    throw DbError(ErrorCode::kExpressionSyntax, "Syntaxfehler in der SQL-Anweisung " + near + ": " +
                                                    why + " (" + std::string(sql_) + ")");
  }

  void ExpectKeyword(std::string_view word) {
    if (!AcceptKeyword(word)) Fail("'" + std::string(word) + "' erwartet");
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) Fail("'" + std::string(s) + "' erwartet");
  }
  void ExpectEnd() {
    AcceptSymbol(";");
    if (Peek().kind != TokenKind::kEnd) {
      if (IsKeyword("order") || IsKeyword("having") || IsKeyword("union")) {
        Fail("diese Klausel wird nicht unterstützt");
      }
      Fail("unerwarteter Rest der Anweisung");
    }
  }

  std::string ParseName(const char* what) {
    const Token& t = Peek();
    if (t.kind != TokenKind::kIdentifier) Fail(std::string(what) + " erwartet");
    if (!t.bracketed) {
      const std::string folded = jet::FoldCase(t.text);
      for (std::string_view r : kReserved) {
        if (folded == r) Fail(std::string(what) + " erwartet");
      }
    }
    ++pos_;
    if (IsSymbol(".")) Fail("qualifizierte Namen werden nicht unterstützt");
    return t.text;
  }

  SelectItem ParseItem() {
    SelectItem item;
    if (AcceptSymbol("*")) {
      item.kind = SelectItem::Kind::kStar;
      return item;
    }
    const Token& t = Peek();
    const bool call = t.kind == TokenKind::kIdentifier && !t.bracketed &&
                      tokens_[pos_ + 1].kind == TokenKind::kSymbol && tokens_[pos_ + 1].text == "(";
    if (call) {
      const std::string fn = jet::FoldCase(t.text);
      pos_ += 2;
      if (fn == "count") {
        if (AcceptSymbol("*")) {
          item.kind = SelectItem::Kind::kCountStar;
        } else {
          item.kind = SelectItem::Kind::kCount;
          item.column = ParseName("Spaltenname");
        }
      } else if (fn == "max" || fn == "min") {
        item.kind = fn == "max" ? SelectItem::Kind::kMax : SelectItem::Kind::kMin;
        item.column = ParseName("Spaltenname");
      } else {
        --pos_;
        --pos_;
        Fail("die Funktion '" + t.text + "' wird nicht unterstützt");
      }
      ExpectSymbol(")");
    } else {
      item.kind = SelectItem::Kind::kColumn;
      item.column = ParseName("Spaltenname");
    }
    if (AcceptKeyword("as")) item.alias = ParseName("Aliasname");
    return item;
  }

  Statement ParseSelect() {
    ExpectKeyword("select");
    if (IsKeyword("distinct") || IsKeyword("top")) Fail("diese Klausel wird nicht unterstützt");
    SelectStatement s;
    do {
      s.items.push_back(ParseItem());
    } while (AcceptSymbol(","));
    ExpectKeyword("from");
    s.table = ParseName("Tabellenname");
    if (IsSymbol(",") || IsKeyword("join") || IsKeyword("inner") || IsKeyword("left") ||
        IsKeyword("right")) {
      Fail("nur eine Tabelle in FROM wird unterstützt");
    }
    if (AcceptKeyword("where")) s.where = ParseCondition();
    if (AcceptKeyword("group")) {
      ExpectKeyword("by");
      do {
        s.group_by.push_back(ParseName("Spaltenname"));
      } while (AcceptSymbol(","));
    }
    return s;
  }

  Statement ParseDelete() {
    ExpectKeyword("delete");
    DeleteStatement d;
    AcceptSymbol("*");
    ExpectKeyword("from");
    d.table = ParseName("Tabellenname");
    if (AcceptKeyword("where")) d.where = ParseCondition();
    return d;
  }

  std::unique_ptr<Condition> ParseCondition() {
    auto left = ParseConjunct();
    while (AcceptKeyword("or")) {
      auto node = std::make_unique<Condition>();
      node->kind = Condition::Kind::kOr;
      node->left = std::move(left);
      node->right = ParseConjunct();
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Condition> ParseConjunct() {
    auto left = ParsePrimary();
    while (AcceptKeyword("and")) {
      auto node = std::make_unique<Condition>();
      node->kind = Condition::Kind::kAnd;
      node->left = std::move(left);
      node->right = ParsePrimary();
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Condition> ParsePrimary() {
    if (AcceptSymbol("(")) {
      auto inner = ParseCondition();
      ExpectSymbol(")");
      return inner;
    }
    if (IsKeyword("not")) Fail("NOT wird nicht unterstützt");
    auto c = std::make_unique<Condition>();
    c->column = ParseName("Spaltenname");
    if (AcceptKeyword("is")) {
      c->kind = AcceptKeyword("not") ? Condition::Kind::kIsNotNull : Condition::Kind::kIsNull;
      ExpectKeyword("null");
      return c;
    }
    if (AcceptKeyword("between")) {
      c->kind = Condition::Kind::kBetween;
      c->literal = ParseLiteral();
      ExpectKeyword("and");
      c->second = ParseLiteral();
      return c;
    }
    c->kind = Condition::Kind::kCompare;
    const Token& op = Peek();
    if (op.kind != TokenKind::kSymbol) Fail("Vergleichsoperator erwartet");
    if (op.text == "=")
      c->op = CompareOp::kEq;
    else if (op.text == "<>")
      c->op = CompareOp::kNe;
    else if (op.text == "<")
      c->op = CompareOp::kLt;
    else if (op.text == "<=")
      c->op = CompareOp::kLe;
    else if (op.text == ">")
      c->op = CompareOp::kGt;
    else if (op.text == ">=")
      c->op = CompareOp::kGe;
    else
      Fail("Vergleichsoperator erwartet");
    ++pos_;
    c->literal = ParseLiteral();
    return c;
  }

  Value ParseLiteral() {
    const bool negative = AcceptSymbol("-");
    const Token& t = Peek();
    if (t.kind == TokenKind::kString && !negative) {
      ++pos_;
      return Value(t.text);
    }
    if (t.kind == TokenKind::kNumber) {
      ++pos_;
      const std::string text = (negative ? "-" : "") + t.text;
      if (text.find_first_of(".eE") == std::string::npos) {
        std::int64_t n = 0;
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && p == text.data() + text.size() &&
            n >= std::numeric_limits<std::int32_t>::min() &&
            n <= std::numeric_limits<std::int32_t>::max()) {
          return Value(static_cast<std::int32_t>(n));
        }
      }
      double d = 0;
      auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || p != text.data() + text.size() || !std::isfinite(d)) {
        Fail("ungültige Zahl");
      }
      return Value(d);
    }
    if (IsKeyword("null")) Fail("Vergleich mit NULL: IS NULL verwenden");
    Fail("Text in Hochkommas oder Zahl erwartet");
  }

  std::string_view sql_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

}  // namespace

Statement Parse(std::string_view sql) { return Parser(sql).ParseStatement(); }

std::shared_ptr<const Statement> StatementCache::Get(std::string_view sql) {
  const std::string text(sql);
  if (auto known = statements_.find(text); known != statements_.end()) return known->second;
  auto parsed = std::make_shared<const Statement>(Parse(sql));
  if (statements_.size() >= kMaxStatements) statements_.clear();
  statements_.emplace(text, parsed);
  return parsed;
}

}  // namespace db::sql
