// Parser of the Jet SQL subset:
//
//   statement  := select | delete  [";"]
//   select     := SELECT item ("," item)* FROM table [WHERE condition] [GROUP BY name ("," name)*]
//   item       := "*" | name [AS name] | COUNT "(" "*" ")" [AS name]
//               | (COUNT | MAX | MIN) "(" name ")" [AS name]
//   delete     := DELETE ["*"] FROM table [WHERE condition]
//   condition  := conjunct (OR conjunct)*
//   conjunct   := primary (AND primary)*
//   primary    := "(" condition ")" | name op literal | name IS [NOT] NULL
//               | name BETWEEN literal AND literal      (the bounds in either order, as in Jet)
//   op         := "=" | "<>" | "<" | "<=" | ">" | ">="
//   literal    := 'text' | ["-"] number
// Keywords and names are matched without regard to letter case; names may be [bracketed].
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/sql/ast.h"

namespace db::sql {

// Throws DbError: 3129 for a statement that is neither SELECT nor DELETE, 3075 for syntax errors
// and for constructs outside the subset.
Statement Parse(std::string_view sql);

// Parsed statements by their text, so that a statement a program runs again and again (the same
// text) is parsed once. Holds at most kMaxStatements; when full, it starts over.
class StatementCache {
 public:
  // The statement the text parses to; throws as Parse() does (a text that fails is not kept).
  std::shared_ptr<const Statement> Get(std::string_view sql);

 private:
  static constexpr std::size_t kMaxStatements = 64;
  std::unordered_map<std::string, std::shared_ptr<const Statement>> statements_;
};

}  // namespace db::sql
