// Helpers for the record layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "db/error.h"

namespace testing_support {

// The number of the DbError that `f` throws (which must have a description), or 0.
inline int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::DbError& e) {
    EXPECT_FALSE(e.description().empty());
    return e.number();
  }
  return 0;
}

}  // namespace testing_support
