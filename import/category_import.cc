#include "db/recordset.h"
#include "db/statement_text.h"
#include "import/phases.h"
#include "run/source_layout.h"
#include "run/target_layout.h"

namespace import {

void ImportCategories(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  s.rsSource->Open(run::source::kSelectGroups, s.cnSource, db::adOpenForwardOnly,
                   db::adLockReadOnly);
  run.progress().SetVisible(true);
  run.progress().Refresh();
  while (!s.rsSource->Eof()) {
    const db::Value group = s.rsSource->Fields().Item("Gruppe").Value();
    s.rsTargetA->Open(run::target::kSelectCategoryPrefix + db::JoinValue(group) + "'", s.cnTarget,
                      db::adOpenDynamic, db::adLockOptimistic);
    if (s.rsTargetA->Eof()) {
      s.rsTargetA->AddNew();
      s.rsTargetA->Fields()
          .Item("txt_ProduktGruppe")
          .Value(db::cNull(s.rsSource->Fields().Item("Gruppe").Value()));
      s.rsTargetA->Fields().Item("lng_Reihenfolge").Value(db::Value(std::int16_t{1}));
      s.rsTargetA->Update();
    }
    s.rsTargetA->Close();
    s.rsSource->MoveNext();
  }
  s.rsSource->Close();
}

}  // namespace import
