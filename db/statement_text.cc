#include "db/statement_text.h"

namespace db {

std::string JoinValue(const Value& value) {
  if (value.is_null()) return {};
  const std::string text = ToText(value);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

}  // namespace db
