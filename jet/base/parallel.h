// Two pieces of work at once: the engine's one use of a second thread, in the commit's index
// rebuild, where the pieces share nothing they change.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

namespace jet {

// Runs `there` on a second thread and `here` on this one, and returns when both are done. Where
// no thread can be started, runs both here, `here` first. An exception of either (out of memory)
// is thrown here once both have ended, the one of `here` first; it never ends the process.
template <typename Here, typename There>
void RunBoth(const Here& here, const There& there) {
  std::exception_ptr there_failed;
  std::thread other;
  try {
    other = std::thread([&there, &there_failed] {
      try {
        there();
      } catch (...) {
        there_failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    here();
    there();
    return;
  }
  try {
    here();
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  if (there_failed) std::rethrow_exception(there_failed);
}

}  // namespace jet
