// Where the tests find their databases, and the passwords that open them (as tests/data/README.md
// gives them). Every test takes them from here.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// tests/data: the databases that ship with the project.
inline const std::string kFixtures = PI_FIXTURE_DIR;
// A file of tests/data by its name (or a path below it, such as "designs/rule-field.mdb").
inline std::string Fixture(std::string_view name) { return kFixtures + "/" + std::string(name); }

// The password of target.mdb, target-related*.mdb and the databases of tests/data/designs/.
inline constexpr char kTargetPassword[] = "pwok572hafxi317nrb";
// The password of target-wrong-password.mdb: a target the import cannot open.
inline constexpr char kOtherTargetPassword[] = "zentavo2024geheim";

}  // namespace testing_support
