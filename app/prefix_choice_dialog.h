// The question at the start when Zentavo's entry is found in several Wine prefixes: which one the
// import is meant for. Each prefix is listed with the database it leads to and that file's last
// change; the user picks one or cancels.
#pragma once

#include <QDialog>
#include <vector>

#include "host/target_lookup.h"

class QTreeWidget;

namespace app {

class PrefixChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PrefixChoiceDialog(const std::vector<host::TargetCandidate>& candidates,
                              QWidget* parent = nullptr);

  // The list (object name "prefixList"): one row per candidate, in their order.
  QTreeWidget* list() const { return list_; }
  // The row the user picked, or -1.
  int chosenIndex() const;

 private:
  QTreeWidget* list_;
};

}  // namespace app
