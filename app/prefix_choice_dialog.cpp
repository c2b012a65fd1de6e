#include "app/prefix_choice_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace app {

PrefixChoiceDialog::PrefixChoiceDialog(const std::vector<host::TargetCandidate>& candidates,
                                       QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("PrefixChoiceDialog"));
  setWindowTitle(QStringLiteral("Produkte Import"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(this);
  text->setObjectName(QStringLiteral("prefixText"));
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setText(QString::fromUtf8(
      "Zentavo ist in mehreren Wine-Präfixen eingetragen. Wählen Sie das Präfix, in dem Zentavo "
      "läuft: in dessen Datenbank werden die Produkte importiert."));
  layout->addWidget(text);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("prefixList"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({QString::fromUtf8("Wine-Präfix"), QStringLiteral("Datenbank"),
                          QString::fromUtf8("Zuletzt geändert")});
  for (const host::TargetCandidate& c : candidates) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, QString::fromStdString(c.prefix));
    row->setText(1, QString::fromStdString(c.problem.empty() ? c.database : c.problem));
    row->setToolTip(1, row->text(1));
    row->setText(2, QString::fromStdString(host::LastChangeText(c)));
  }
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setMinimumWidth(640);
  layout->addWidget(list_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* choose =
      buttons->addButton(QString::fromUtf8("Auswählen"), QDialogButtonBox::AcceptRole);
  choose->setObjectName(QStringLiteral("prefixChoose"));
  choose->setEnabled(false);
  QPushButton* cancel =
      buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("prefixCancel"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this,
          [this, choose] { choose->setEnabled(chosenIndex() >= 0); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
}

int PrefixChoiceDialog::chosenIndex() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.size() == 1 ? list_->indexOfTopLevelItem(selected.front()) : -1;
}

}  // namespace app
