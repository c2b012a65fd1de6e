#include "db/recordset.h"
#include "import/phases.h"
#include "run/target_layout.h"

namespace import {

void AssignExtras(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  run.counter = 0;
  s.rsTargetA->Open(run::target::kCountProducts, s.cnTarget, db::adOpenForwardOnly,
                    db::adLockReadOnly);
  run.progress().SetMax(db::ToSingle(s.rsTargetA->Fields().Item("TotalProdukte").Value()));
  s.rsTargetA->Close();
  s.rsTargetA->Open(run::target::kSelectAllAssignments, s.cnTarget, db::adOpenDynamic,
                    db::adLockOptimistic);
  s.rsTargetB->Open(run::target::kSelectAllProducts, s.cnTarget, db::adOpenForwardOnly,
                    db::adLockReadOnly);
  while (!s.rsTargetB->Eof()) {
    s.rsTargetC->Open(run::target::kSelectAllExtras, s.cnTarget, db::adOpenKeyset,
                      db::adLockOptimistic);
    while (!s.rsTargetC->Eof()) {
      s.rsTargetA->AddNew();
      s.rsTargetA->Fields().Item("lng_ProduktID").Value(s.rsTargetB->Fields().Item("lng_ID"));
      s.rsTargetA->Fields().Item("lng_ProduktExtraID").Value(s.rsTargetC->Fields().Item("lng_ID"));
      s.rsTargetA->Update();
      s.rsTargetC->MoveNext();
    }
    s.rsTargetC->Close();
    s.rsTargetB->MoveNext();
    run.AdvanceProgress();
  }
  s.rsTargetA->Close();
  // rsTargetB stays open: closing the connections closes it.
}

}  // namespace import
