// Two pieces of work at once: the engine's one use of a second thread, in the commit's index
// rebuild, where the pieces share nothing they change.
#pragma once

#include <system_error>
#include <thread>

namespace jet {

// Runs `there` on a second thread and `here` on this one, and returns when both are done. Where
// no thread can be started, runs both here, `here` first.
template <typename Here, typename There>
void RunBoth(const Here& here, const There& there) {
  std::thread other;
  try {
    other = std::thread([&there] { there(); });
  } catch (const std::system_error&) {
    here();
    there();
    return;
  }
  here();
  other.join();
}

}  // namespace jet
