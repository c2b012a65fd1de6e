#include "jet/index/index_page_plan.h"

#include "jet/index/index_entry_store.h"

namespace jet {

IndexPagePlan PlanIndexPages(JetVersion version, const std::vector<IndexEntry>& entries) {
  return PlanLevels(
      version, entries.size(), [&](std::size_t i) { return entries[i].key.size(); },
      [&](std::size_t i, std::size_t j) { return SharedPrefix(entries[i].key, entries[j].key); });
}

}  // namespace jet
