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
//   op         := "=" | "<>" | "<" | "<=" | ">" | ">="
//   literal    := 'text' | ["-"] number
// Keywords and names are matched without regard to letter case; names may be [bracketed].
#pragma once

#include <string_view>

#include "db/sql/ast.h"

namespace db::sql {

// Throws DbError: 3129 for a statement that is neither SELECT nor DELETE, 3075 for syntax errors
// and for constructs outside the subset.
Statement Parse(std::string_view sql);

}  // namespace db::sql
