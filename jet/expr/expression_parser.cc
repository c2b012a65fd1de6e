// Parsing of Jet expressions into the tree the evaluator walks (grammar in expression.h).
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "jet/expr/expression.h"
#include "jet/expr/expression_dates.h"
#include "jet/expr/expression_node.h"
#include "jet/text/unicode.h"

namespace jet {
namespace {

enum class Tok { kEnd, kNumber, kString, kDate, kName, kBracketName, kSymbol };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;    // name, symbol, string contents, date text
  std::string folded;  // kName: lower case
  Value number;        // kNumber
  std::size_t at = 0;  // offset in the expression
};

Status SyntaxError(std::string_view text, std::size_t at, const std::string& what) {
  return Status(ErrorCode::kExpressionSyntax, "Syntaxfehler im Ausdruck '" + std::string(text) +
                                                  "' an Stelle " + std::to_string(at + 1) + ": " +
                                                  what + ".");
}

// A number literal: digits with an optional fraction and exponent, or &H / &O integers.
// Integers that fit 16 bits are Integer, those that fit 32 bits Long, others Double.
Value NumberValue(double d, bool integral) {
  if (integral && d >= -32768 && d <= 32767) return Value(static_cast<std::int16_t>(d));
  if (integral && d >= std::numeric_limits<std::int32_t>::min() &&
      d <= std::numeric_limits<std::int32_t>::max()) {
    return Value(static_cast<std::int32_t>(d));
  }
  return Value(d);
}

Result<std::vector<Token>> Lex(std::string_view s) {
  std::vector<Token> out;
  std::size_t i = 0;
  auto is_name_char = [](unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; };
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    Token t;
    t.at = i;
    if (i >= s.size()) {
      out.push_back(t);
      return out;
    }
    const char c = s[i];
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      std::size_t j = i;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      bool integral = true;
      if (j < s.size() && s[j] == '.') {
        integral = false;
        ++j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      }
      if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
          integral = false;
          j = k;
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        }
      }
      double d = 0;
      const std::string digits(s.substr(i, j - i));
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
      if (ec != std::errc() || p != digits.data() + digits.size() || !std::isfinite(d)) {
        return SyntaxError(s, i, "ungültige Zahl");
      }
      t.kind = Tok::kNumber;
      t.number = NumberValue(d, integral);
      i = j;
    } else if (c == '&' && i + 1 < s.size() &&
               (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
      const int base = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
      std::size_t j = i + 2;
      std::uint64_t v = 0;
      std::size_t digits = 0;
      while (j < s.size()) {
        const int d = std::isdigit(static_cast<unsigned char>(s[j])) ? s[j] - '0'
                      : base == 16 && std::isxdigit(static_cast<unsigned char>(s[j]))
                          ? std::tolower(static_cast<unsigned char>(s[j])) - 'a' + 10
                          : -1;
        if (d < 0 || d >= base) break;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFu) return SyntaxError(s, i, "Zahl zu groß");
        ++digits;
        ++j;
      }
      if (digits == 0) return SyntaxError(s, i, "ungültige Zahl");
      t.kind = Tok::kNumber;
      // As in VBA: up to four hex digits are an Integer, the bits taken as they are.
      if (v <= 0xFFFF && digits <= (base == 16 ? 4u : 6u)) {
        t.number = Value(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
      } else {
        t.number = Value(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
      }
      i = j;
    } else if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      std::string text;
      bool closed = false;
      while (j < s.size()) {
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            text.push_back(c);
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        text.push_back(s[j++]);
      }
      if (!closed) return SyntaxError(s, i, "Zeichenfolge ohne Ende");
      t.kind = Tok::kString;
      t.text = std::move(text);
      i = j;
    } else if (c == '#') {
      const std::size_t end = s.find('#', i + 1);
      if (end == std::string_view::npos) return SyntaxError(s, i, "Datum ohne Ende");
      t.kind = Tok::kDate;
      t.text = std::string(s.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == '[') {
      const std::size_t end = s.find(']', i + 1);
      if (end == std::string_view::npos) return SyntaxError(s, i, "Name ohne ']'");
      t.kind = Tok::kBracketName;
      t.text = std::string(s.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (is_name_char(static_cast<unsigned char>(c))) {
      std::size_t j = i;
      while (j < s.size() && is_name_char(static_cast<unsigned char>(s[j]))) ++j;
      // Function names such as Format$ keep their type sign.
      if (j < s.size() && s[j] == '$') ++j;
      t.kind = Tok::kName;
      t.text = std::string(s.substr(i, j - i));
      t.folded = FoldCase(t.text);
      if (!t.folded.empty() && t.folded.back() == '$') t.folded.pop_back();
      i = j;
    } else {
      static const char* const kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
      t.kind = Tok::kSymbol;
      for (const char* two : kTwo) {
        if (s.substr(i, 2) == two) t.text = two;
      }
      if (t.text == "=<") t.text = "<=";
      if (t.text == "=>") t.text = ">=";
      if (t.text.empty()) {
        if (std::string_view("+-*/\\^&=<>(),").find(c) == std::string_view::npos) {
          return SyntaxError(s, i, std::string("unerwartetes Zeichen '") + c + "'");
        }
        t.text = std::string(1, c);
        i += 1;
      } else {
        i += 2;
      }
    }
    out.push_back(std::move(t));
  }
}

class Parser {
 public:
  Parser(std::string_view text, std::vector<Token> tokens, bool field_rule)
      : text_(text), tokens_(std::move(tokens)), field_rule_(field_rule) {}

  Result<NodePtr> Whole() {
    JET_ASSIGN_OR_RETURN(NodePtr e, Expr());
    if (Peek().kind != Tok::kEnd) return Error("unerwartetes '" + Show(Peek()) + "'");
    return e;
  }
  bool varies() const { return varies_; }

 private:
  const Token& Peek(std::size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  bool IsKeyword(const char* word, std::size_t ahead = 0) const {
    return Peek(ahead).kind == Tok::kName && Peek(ahead).folded == word;
  }
  bool IsSymbol(const char* sym) const { return Peek().kind == Tok::kSymbol && Peek().text == sym; }
  bool Accept(const char* keyword_or_symbol) {
    if (IsKeyword(keyword_or_symbol) || IsSymbol(keyword_or_symbol)) {
      ++pos_;
      return true;
    }
    return false;
  }
  static std::string Show(const Token& t) {
    return t.kind == Tok::kEnd ? "Ende" : t.kind == Tok::kNumber ? "Zahl" : t.text;
  }
  Status Error(const std::string& what) const { return SyntaxError(text_, Peek().at, what); }

  static NodePtr Make(ExprOp op, std::vector<NodePtr> args, bool negated = false) {
    auto n = std::make_shared<ExpressionNode>();
    n->op = op;
    n->args = std::move(args);
    n->negated = negated;
    return n;
  }

  // Expressions come from the file: nesting is limited, so that neither parsing nor evaluating
  // a damaged or hostile one can exhaust the stack.
  static constexpr int kMaxNesting = 100;
  class Nesting {
   public:
    explicit Nesting(int& depth) : depth_(depth) { ++depth_; }
    ~Nesting() { --depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    int& depth_;
  };
  Status TooDeep() const { return Error("zu tief verschachtelt"); }

  Result<NodePtr> Expr() {
    Nesting nest(depth_);
    if (depth_ > kMaxNesting) return TooDeep();
    return Binary(0);
  }

  // The logical operators, loosest first; level 5 is Not.
  Result<NodePtr> Binary(int level) {
    static const char* const kWords[] = {"imp", "eqv", "xor", "or", "and"};
    static const ExprOp kOps[] = {ExprOp::kImp, ExprOp::kEqv, ExprOp::kXor, ExprOp::kOr,
                                  ExprOp::kAnd};
    if (level == 5) return NotExpr();
    JET_ASSIGN_OR_RETURN(NodePtr left, Binary(level + 1));
    while (Accept(kWords[level])) {
      JET_ASSIGN_OR_RETURN(NodePtr right, Binary(level + 1));
      left = Make(kOps[level], {left, right});
    }
    return left;
  }

  Result<NodePtr> NotExpr() {
    if (Accept("not")) {
      Nesting nest(depth_);
      if (depth_ > kMaxNesting) return TooDeep();
      JET_ASSIGN_OR_RETURN(NodePtr inner, NotExpr());
      return Make(ExprOp::kNot, {inner});
    }
    return Compare();
  }

  bool AtComparison() const {
    if (Peek().kind == Tok::kSymbol) {
      const std::string& t = Peek().text;
      return t == "=" || t == "<>" || t == "<" || t == ">" || t == "<=" || t == ">=";
    }
    if (IsKeyword("like") || IsKeyword("is") || IsKeyword("between") || IsKeyword("in")) {
      return true;
    }
    return IsKeyword("not") &&
           (IsKeyword("like", 1) || IsKeyword("between", 1) || IsKeyword("in", 1));
  }

  Result<NodePtr> Compare() {
    NodePtr left;
    if (field_rule_ && AtComparison()) {
      left = Make(ExprOp::kField, {});
    } else {
      JET_ASSIGN_OR_RETURN(left, Concat());
    }
    while (AtComparison()) {
      const bool negated = Accept("not");
      if (Accept("is")) {
        const bool is_not = Accept("not");
        if (!Accept("null")) return Error("'Null' nach 'Is' erwartet");
        left = Make(ExprOp::kIsNull, {left}, is_not);
      } else if (Accept("between")) {
        JET_ASSIGN_OR_RETURN(NodePtr low, Concat());
        if (!Accept("and")) return Error("'And' nach 'Between' erwartet");
        JET_ASSIGN_OR_RETURN(NodePtr high, Concat());
        left = Make(ExprOp::kBetween, {left, low, high}, negated);
      } else if (Accept("in")) {
        if (!Accept("(")) return Error("'(' nach 'In' erwartet");
        std::vector<NodePtr> args = {left};
        do {
          JET_ASSIGN_OR_RETURN(NodePtr item, Expr());
          args.push_back(item);
        } while (Accept(","));
        if (!Accept(")")) return Error("')' erwartet");
        left = Make(ExprOp::kIn, std::move(args), negated);
      } else if (Accept("like")) {
        JET_ASSIGN_OR_RETURN(NodePtr pattern, Concat());
        left = Make(ExprOp::kLike, {left, pattern}, negated);
      } else {
        const std::string sym = Peek().text;
        ++pos_;
        const ExprOp op = sym == "="    ? ExprOp::kEqual
                          : sym == "<>" ? ExprOp::kNotEqual
                          : sym == "<"  ? ExprOp::kLess
                          : sym == "<=" ? ExprOp::kLessEqual
                          : sym == ">"  ? ExprOp::kGreater
                                        : ExprOp::kGreaterEqual;
        JET_ASSIGN_OR_RETURN(NodePtr right, Concat());
        left = Make(op, {left, right});
      }
    }
    return left;
  }

  Result<NodePtr> Concat() {
    JET_ASSIGN_OR_RETURN(NodePtr left, Additive());
    while (Accept("&")) {
      JET_ASSIGN_OR_RETURN(NodePtr right, Additive());
      left = Make(ExprOp::kConcat, {left, right});
    }
    return left;
  }

  Result<NodePtr> Additive() {
    JET_ASSIGN_OR_RETURN(NodePtr left, Modulo());
    while (IsSymbol("+") || IsSymbol("-")) {
      const ExprOp op = Peek().text == "+" ? ExprOp::kAdd : ExprOp::kSubtract;
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, Modulo());
      left = Make(op, {left, right});
    }
    return left;
  }

  Result<NodePtr> Modulo() {
    JET_ASSIGN_OR_RETURN(NodePtr left, IntDivide());
    while (Accept("mod")) {
      JET_ASSIGN_OR_RETURN(NodePtr right, IntDivide());
      left = Make(ExprOp::kModulo, {left, right});
    }
    return left;
  }

  Result<NodePtr> IntDivide() {
    JET_ASSIGN_OR_RETURN(NodePtr left, Multiplicative());
    while (Accept("\\")) {
      JET_ASSIGN_OR_RETURN(NodePtr right, Multiplicative());
      left = Make(ExprOp::kIntDivide, {left, right});
    }
    return left;
  }

  Result<NodePtr> Multiplicative() {
    JET_ASSIGN_OR_RETURN(NodePtr left, Unary());
    while (IsSymbol("*") || IsSymbol("/")) {
      const ExprOp op = Peek().text == "*" ? ExprOp::kMultiply : ExprOp::kDivide;
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, Unary());
      left = Make(op, {left, right});
    }
    return left;
  }

  Result<NodePtr> Unary() {
    if (Accept("-")) {
      Nesting nest(depth_);
      if (depth_ > kMaxNesting) return TooDeep();
      JET_ASSIGN_OR_RETURN(NodePtr inner, Unary());
      return Make(ExprOp::kNegate, {inner});
    }
    if (Accept("+")) {
      Nesting nest(depth_);
      if (depth_ > kMaxNesting) return TooDeep();
      return Unary();
    }
    return Power();
  }

  // "^" binds tighter than a sign on its left (-2^2 is -4) and takes a signed exponent.
  Result<NodePtr> Power() {
    JET_ASSIGN_OR_RETURN(NodePtr left, Primary());
    while (Accept("^")) {
      NodePtr right;
      if (Accept("-")) {
        JET_ASSIGN_OR_RETURN(NodePtr inner, Primary());
        right = Make(ExprOp::kNegate, {inner});
      } else {
        JET_ASSIGN_OR_RETURN(right, Primary());
      }
      left = Make(ExprOp::kPower, {left, right});
    }
    return left;
  }

  static NodePtr Literal(Value v) {
    auto n = std::make_shared<ExpressionNode>();
    n->value = std::move(v);
    return n;
  }

  Result<NodePtr> Primary() {
    const Token t = Peek();
    switch (t.kind) {
      case Tok::kNumber:
        ++pos_;
        return Literal(t.number);
      case Tok::kString:
        ++pos_;
        return Literal(Value(t.text));
      case Tok::kDate: {
        auto days = ParseDateLiteralText(t.text);
        if (!days) return Error("ungültiges Datum #" + t.text + "#");
        ++pos_;
        return Literal(Value(DateTime{*days}));
      }
      case Tok::kBracketName: {
        ++pos_;
        auto n = std::make_shared<ExpressionNode>();
        n->op = ExprOp::kColumn;
        n->name = t.text;
        varies_ = true;
        return NodePtr(n);
      }
      case Tok::kName:
        return NameOrCall(t);
      case Tok::kSymbol:
        if (Accept("(")) {
          JET_ASSIGN_OR_RETURN(NodePtr inner, Expr());
          if (!Accept(")")) return Error("')' erwartet");
          return inner;
        }
        break;
      case Tok::kEnd:
        break;
    }
    return Error("Wert erwartet statt '" + Show(t) + "'");
  }

  Result<NodePtr> NameOrCall(const Token& t) {
    ++pos_;
    const std::string& w = t.folded;
    if (w == "true" || w == "yes" || w == "on") return Literal(Value(true));
    if (w == "false" || w == "no" || w == "off") return Literal(Value(false));
    if (w == "null") return Literal(Value());
    static const char* const kReserved[] = {"and", "or",   "not", "xor",     "eqv", "imp",
                                            "mod", "like", "is",  "between", "in"};
    for (const char* r : kReserved) {
      if (w == r) return SyntaxError(text_, t.at, "unerwartetes '" + t.text + "'");
    }
    if (!IsSymbol("(")) {
      // A bare name: a column, or one of the functions Access lets go without parentheses.
      bool varies = false;
      if ((w == "date" || w == "now" || w == "time" || w == "currentuser") &&
          KnownFunction(w, &varies)) {
        varies_ = varies_ || varies;
        auto n = std::make_shared<ExpressionNode>();
        n->op = ExprOp::kCall;
        n->name = w;
        return NodePtr(n);
      }
      auto n = std::make_shared<ExpressionNode>();
      n->op = ExprOp::kColumn;
      n->name = t.text;
      varies_ = true;
      return NodePtr(n);
    }
    bool varies = false;
    if (!KnownFunction(w, &varies)) {
      return Status(
          ErrorCode::kUndefinedFunction,
          "Unbekannte Funktion '" + t.text + "' im Ausdruck '" + std::string(text_) + "'.");
    }
    varies_ = varies_ || varies;
    ++pos_;  // "("
    auto n = std::make_shared<ExpressionNode>();
    n->op = ExprOp::kCall;
    n->name = w;
    if (!Accept(")")) {
      do {
        JET_ASSIGN_OR_RETURN(NodePtr arg, Expr());
        n->args.push_back(arg);
      } while (Accept(","));
      if (!Accept(")")) return Error("')' erwartet");
    }
    return NodePtr(n);
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  bool field_rule_ = false;
  bool varies_ = false;
  int depth_ = 0;
};

}  // namespace

Result<Expression> Expression::Parse(std::string_view text, bool field_rule) {
  // Access keeps at most 2048 characters in a rule (255 in a default); longer texts are damaged.
  constexpr std::size_t kMaxLength = 2048;
  if (text.size() > kMaxLength) {
    return Status(ErrorCode::kExpressionSyntax,
                  "Der Ausdruck ist länger als " + std::to_string(kMaxLength) + " Zeichen.");
  }
  std::string_view body = text;
  while (!body.empty() && (body.front() == ' ' || body.front() == '\t')) body.remove_prefix(1);
  if (!body.empty() && body.front() == '=' && !field_rule) body.remove_prefix(1);
  JET_ASSIGN_OR_RETURN(std::vector<Token> tokens, Lex(body));
  if (tokens.size() == 1) {
    return Status(ErrorCode::kExpressionSyntax,
                  "Der Ausdruck '" + std::string(text) + "' ist leer.");
  }
  Parser parser(body, std::move(tokens), field_rule);
  JET_ASSIGN_OR_RETURN(NodePtr root, parser.Whole());
  Expression e;
  e.root_ = std::move(root);
  e.text_ = std::string(text);
  e.varies_ = parser.varies();
  return e;
}

}  // namespace jet
