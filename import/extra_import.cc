#include "db/recordset.h"
#include "db/statement_text.h"
#include "import/phases.h"
#include "run/source_layout.h"
#include "run/target_layout.h"

namespace import {
namespace {

void AddExtraPrices(run::RunContext& run, std::int32_t extra_id) {
  run::DatabaseState& s = run.state;
  s.rsTargetC->Open(run::target::kSelectExtraPricesPrefix + db::JoinValue(db::Value(extra_id)),
                    s.cnTarget, db::adOpenDynamic, db::adLockOptimistic);
  if (s.rsTargetC->Eof()) {
    for (std::int32_t group = 1; group <= 10; ++group) {
      s.rsTargetC->AddNew();
      s.rsTargetC->Fields().Item("lng_ExtraID").Value(db::Value(extra_id));
      s.rsTargetC->Fields().Item("lng_Gruppe").Value(db::Value(group));
      s.rsTargetC->Fields().Item("dbl_Preis").Value(s.rsSource->Fields().Item("PreisMWSt"));
      s.rsTargetC->Fields().Item("lng_MWSt").Value(db::Value(std::int16_t{2}));
      s.rsTargetC->Update();
    }
  }
  s.rsTargetC->Close();
}

void AddExtra(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  s.rsTargetB->AddNew();
  s.rsTargetB->Fields().Item("txt_Extra").Value(s.rsSource->Fields().Item("Bezeichnung"));
  s.rsTargetB->Fields().Item("txt_Stückelung").Value(db::Value(std::string("Stk.")));
  s.rsTargetB->Fields().Item("lng_Einheit").Value(db::Value(std::string("1")));
  s.rsTargetB->Fields().Item("lng_Reihenfolge").Value(db::Value(std::int16_t{1}));
  s.rsTargetB->Update();
  s.rsTargetC->Open(run::target::kLastExtraKey, s.cnTarget, db::adOpenDynamic,
                    db::adLockOptimistic);
  const std::int32_t extra_id = db::ToInt32(s.rsTargetC->Fields().Item("lng_LastID").Value());
  s.rsTargetC->Close();
  AddExtraPrices(run, extra_id);
}

}  // namespace

void ImportExtras(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  run.counter = 0;
  s.rsSource->Open(run::source::kCountAddOns, s.cnSource, db::adOpenForwardOnly,
                   db::adLockReadOnly);
  run.progress().SetMax(db::ToSingle(s.rsSource->Fields().Item("TotalProdukte").Value()));
  s.rsSource->Close();
  run.progress().SetVisible(true);
  run.progress().Refresh();
  s.rsSource->Open(run::source::kSelectAllAddOns);
  while (!s.rsSource->Eof()) {
    const db::Value name = s.rsSource->Fields().Item("Bezeichnung").Value();
    s.rsTargetB->Open(
        run::target::kSelectExtraPrefix + db::JoinValue(name) + run::target::kSelectExtraSuffix,
        s.cnTarget, db::adOpenDynamic, db::adLockOptimistic);
    if (s.rsTargetB->Eof()) AddExtra(run);
    s.rsTargetB->Close();
    run.AdvanceProgress();
    s.rsSource->MoveNext();
  }
  s.rsSource->Close();
}

}  // namespace import
