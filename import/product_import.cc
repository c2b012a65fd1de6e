#include "db/recordset.h"
#include "db/statement_text.h"
#include "import/phases.h"
#include "run/source_layout.h"
#include "run/target_layout.h"

namespace import {
namespace {

// The articles of one category. The category with the empty name also takes the articles
// without a group (Null), which would otherwise match no category and vanish from the migration.
std::string ArticlesOfCategory(const db::Value& name) {
  const std::string joined = db::JoinValue(name);
  std::string statement = run::source::kSelectArticlesOfGroupPrefix + joined + "'";
  if (joined.empty()) statement += " OR Gruppe IS NULL";
  return statement;
}

// Ten price rows, price groups 1 to 10, for the product just added, unless it has prices.
void AddPrices(run::RunContext& run, std::int32_t product_id) {
  run::DatabaseState& s = run.state;
  s.rsTargetC->Open(run::target::kSelectProductPricesPrefix + db::JoinValue(db::Value(product_id)),
                    s.cnTarget, db::adOpenDynamic, db::adLockOptimistic);
  if (s.rsTargetC->Eof()) {
    for (std::int32_t group = 1; group <= 10; ++group) {
      s.rsTargetC->AddNew();
      s.rsTargetC->Fields().Item("lng_ProduktID").Value(db::Value(product_id));
      s.rsTargetC->Fields().Item("lng_Gruppe").Value(db::Value(group));
      s.rsTargetC->Fields().Item("dbl_Preis").Value(s.rsSource->Fields().Item("PreisMWSt"));
      s.rsTargetC->Fields().Item("lng_MWSt").Value(db::Value(std::int16_t{2}));
      s.rsTargetC->Update();
    }
  }
  s.rsTargetC->Close();
}

void AddProduct(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  s.rsTargetB->AddNew();
  s.rsTargetB->Fields().Item("lng_ProduktGruppe").Value(s.rsTargetA->Fields().Item("lng_GruppeID"));
  s.rsTargetB->Fields().Item("txt_Kurzzeichen").Value(s.rsSource->Fields().Item("Kurzzeichen"));
  s.rsTargetB->Fields().Item("txt_Produkt").Value(s.rsSource->Fields().Item("Bezeichnung"));
  s.rsTargetB->Fields().Item("txt_Beschreibung").Value(db::Value(std::string()));
  s.rsTargetB->Fields().Item("txt_Stückelung").Value(db::Value(std::string("Stk.")));
  s.rsTargetB->Fields().Item("lng_Einheit").Value(db::Value(std::string("1")));
  s.rsTargetB->Fields().Item("lng_Reihenfolge").Value(db::Value(std::int16_t{1}));
  s.rsTargetB->Update();
  // Key read-back: the newest product has the largest key.
  s.rsTargetC->Open(run::target::kLastProductKey, s.cnTarget, db::adOpenDynamic,
                    db::adLockOptimistic);
  const std::int32_t product_id = db::ToInt32(s.rsTargetC->Fields().Item("lng_LastID").Value());
  s.rsTargetC->Close();
  AddPrices(run, product_id);
}

}  // namespace

void ImportProducts(run::RunContext& run) {
  run::DatabaseState& s = run.state;
  s.rsSource->Open(run::source::kCountArticles, s.cnSource, db::adOpenForwardOnly,
                   db::adLockReadOnly);
  run.progress().SetMax(db::ToSingle(s.rsSource->Fields().Item("TotalProdukte").Value()));
  s.rsSource->Close();
  s.rsTargetA->Open(run::target::kSelectCategoryKeys, s.cnTarget, db::adOpenDynamic,
                    db::adLockOptimistic);
  run.progress().SetVisible(true);
  run.progress().Refresh();
  while (!s.rsTargetA->Eof()) {
    s.rsSource->Open(ArticlesOfCategory(s.rsTargetA->Fields().Item("txt_ProduktGruppe").Value()));
    while (!s.rsSource->Eof()) {
      const db::Value category = s.rsTargetA->Fields().Item("lng_GruppeID").Value();
      const db::Value code = s.rsSource->Fields().Item("Kurzzeichen").Value();
      s.rsTargetB->Open(run::target::kSelectProductPrefix + db::JoinValue(category) +
                            run::target::kSelectProductMiddle + db::JoinValue(code) +
                            run::target::kSelectProductSuffix,
                        s.cnTarget, db::adOpenDynamic, db::adLockOptimistic);
      if (s.rsTargetB->Eof()) AddProduct(run);
      s.rsTargetB->Close();
      run.AdvanceProgress();
      s.rsSource->MoveNext();
    }
    s.rsSource->Close();
    s.rsTargetA->MoveNext();
  }
  s.rsTargetA->Close();
}

}  // namespace import
