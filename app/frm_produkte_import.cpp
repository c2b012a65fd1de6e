#include "app/frm_produkte_import.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <iostream>

#include "app/prefix_choice_dialog.h"
#include "host/target_lookup.h"
#include "host/wine_prefix.h"
#include "import/import_run.h"
#include "run/run_context.h"
#include "run/run_log.h"

namespace app {
namespace {

// Positions and sizes are kept in twips as the window was designed; a pixel is 15 twips.
constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

// Places a control relative to the client area of its container (inside a panel's border).
void Place(QWidget* w, int left, int top, int width, int height) {
  QPoint origin;
  if (auto* frame = qobject_cast<QFrame*>(w->parentWidget()))
    origin = frame->contentsRect().topLeft();
  w->setGeometry(origin.x() + Px(left), origin.y() + Px(top), Px(width), Px(height));
}

QFont Arial(qreal points, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// A panel of the splitter: a sunken box whose children are placed by position.
QWidget* Panel(const char* name, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  return panel;
}

template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QMessageBox::Icon IconOf(int style) {
  switch (style & 0x70) {
    case run::vbCritical:
      return QMessageBox::Critical;
    case 32:  // vbQuestion
      return QMessageBox::Question;
    case 48:  // vbExclamation
      return QMessageBox::Warning;
    case run::vbInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

const char kLabel2Text[] =
    "Suchen Sie im Programm Verzeichnis von Orbelin nach der Datenbank \"Kastrel.mdb\" im "
    "Verzeichnis Data. Nachdem Sie den Zielpfad angegeben haben, drücken Sie auf die Taste "
    "\"Produkte Importieren\". Die Daten werden nun in  die Datenbank von Zentavo importiert.";

// Windows programs run under Wine live in drive_c of a prefix, which is a hidden folder (~/.wine):
// each prefix found is offered in the dialog's sidebar, after the usual places.
void AddWineDrivesToSidebar(QFileDialog& dialog) {
  QList<QUrl> places = dialog.sidebarUrls();
  for (const std::string& folder : host::WineDriveFolders()) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder));
    if (!places.contains(url)) places.append(url);
  }
  dialog.setSidebarUrls(places);
}

}  // namespace

frmProdukteImport::frmProdukteImport(QWidget* parent)
    : QWidget(parent),
      file_dialog_runner_([](QFileDialog& dialog) { return dialog.exec(); }),
      message_box_runner_([](QMessageBox& box) { box.exec(); }),
      prefix_choice_runner_([](PrefixChoiceDialog& dialog) { return dialog.exec(); }) {
  setObjectName(QStringLiteral("frmProdukteImport"));
  setWindowTitle(QStringLiteral("Produkte Import: Orbelin nach Zentavo"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/produkte-import.png")));
  // The font of every control that has none of its own.
  setFont(Arial(8.25, false));
  setFixedSize(Px(7905), Px(3195));

  // The splitter fills the client area: an upper part 2805 twips high and the bottom pane, the
  // upper part split into a left pane 2355 twips wide and the right pane; bars 75 twips wide.
  SSSplitter1 = Named(new QSplitter(Qt::Vertical, this), "SSSplitter1");
  SSSplitter1->setHandleWidth(Px(75));
  SSSplitter1->setChildrenCollapsible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(SSSplitter1);

  upperPart = Named(new QSplitter(Qt::Horizontal, SSSplitter1), "SSSplitter1_Oben");
  upperPart->setHandleWidth(Px(75));
  upperPart->setChildrenCollapsible(false);
  upperPart->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  // Pane A (upper left): the instructions.
  Picture1 = Panel("Picture1", upperPart);
  Label2 = Named(new QLabel(Picture1), "Label2");
  Place(Label2, 30, 60, 2235, 2655);
  Label2->setTextFormat(Qt::PlainText);
  Label2->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2->setText(QString::fromUtf8(kLabel2Text));

  // Pane C (upper right): the source path, the import command and its progress.
  Picture2 = Panel("Picture2", upperPart);
  cmdImport = Named(new QPushButton(Picture2), "cmdImport");
  Place(cmdImport, 1650, 1320, 2355, 375);
  cmdImport->setText(QStringLiteral("Produkte Importieren"));
  cmdImport->setFont(Arial(8.25, true));
  cmdImport->setToolTip(QStringLiteral("Befehl zum Backup erstellen."));
  cmdImport->setEnabled(false);

  txt_DBPfad = Named(new QLineEdit(Picture2), "txt_DBPfad");
  Place(txt_DBPfad, 1110, 570, 3375, 315);
  txt_DBPfad->setText(QString::fromUtf8("Anzeige des Zielverzeichnises für den Import."));
  txt_DBPfad->setCursorPosition(0);

  cmdSaveFile = Named(new QPushButton(Picture2), "cmdSaveFile");
  Place(cmdSaveFile, 4500, 570, 405, 315);
  cmdSaveFile->setText(QStringLiteral("..."));
  cmdSaveFile->setToolTip(QStringLiteral("Suche nach dem Speicherungsverzeichnis des Backup."));

  ProgressBar = Named(new QProgressBar(Picture2), "ProgressBar");
  Place(ProgressBar, 210, 2190, 5085, 345);
  ProgressBar->setTextVisible(false);
  ProgressBar->setToolTip(QStringLiteral("Verlauf der Backuperstellung."));
  ProgressBar->setVisible(false);
  progress_ = std::make_unique<ProgressBarDisplay>(ProgressBar);  // range 0 to 100, value 0

  Label1 = Named(new QLabel(Picture2), "Label1");
  Place(Label1, 210, 570, 915, 315);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setText(QStringLiteral("Zielpfad:"));
  Label1->setFont(Arial(9.75, true));

  // Pane B (bottom): the close button.
  cmdClose = Named(new QPushButton(SSSplitter1), "cmdClose");
  cmdClose->setText(QStringLiteral("Schliessen"));
  cmdClose->setFont(Arial(9.75, true));
  cmdClose->setToolTip(QStringLiteral("Schliesst das Fenster."));
  cmdClose->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  upperPart->setSizes({Px(2355), Px(7905 - 2355 - 75)});
  SSSplitter1->setSizes({Px(2805), Px(3195 - 2805 - 75)});

  // Tab order: cmdClose, cmdSaveFile, txt_DBPfad, cmdImport; the first has the focus.
  setTabOrder(cmdClose, cmdSaveFile);
  setTabOrder(cmdSaveFile, txt_DBPfad);
  setTabOrder(txt_DBPfad, cmdImport);
  cmdClose->setFocus();

  connect(cmdSaveFile, &QPushButton::clicked, this, &frmProdukteImport::cmdSaveFile_Click);
  connect(cmdImport, &QPushButton::clicked, this, &frmProdukteImport::cmdImport_Click);
  connect(cmdClose, &QPushButton::clicked, this, &frmProdukteImport::cmdClose_Click);
}

frmProdukteImport::~frmProdukteImport() = default;

void frmProdukteImport::SetFileDialogRunner(FileDialogRunner runner) {
  file_dialog_runner_ = std::move(runner);
}

void frmProdukteImport::SetMessageBoxRunner(MessageBoxRunner runner) {
  message_box_runner_ = std::move(runner);
}

void frmProdukteImport::SetPrefixChoiceRunner(PrefixChoiceRunner runner) {
  prefix_choice_runner_ = std::move(runner);
}

bool frmProdukteImport::Form_Load() {
  try {
    try {
      const std::vector<host::TargetCandidate> candidates = host::FindTargetCandidates();
      host::SettingsEntry entry;
      if (candidates.size() == 1) {
        entry = host::ChooseCandidate(candidates.front());
      } else if (candidates.size() > 1) {
        PrefixChoiceDialog dialog(candidates);
        const int answer = prefix_choice_runner_(dialog);
        if (answer != QDialog::Accepted || dialog.chosenIndex() < 0) {
          EndProgram(run::kExitNotInstalled);
        }
        entry = host::ChooseCandidate(candidates[static_cast<std::size_t>(dialog.chosenIndex())]);
      }
      state_.strDBRoot = std::move(entry.value);
      state_.strDBRootPrefix = std::move(entry.wine_prefix);
    } catch (const db::TargetLocationError& e) {
      MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
             run::kTitleImport);
      EndProgram(run::kExitNotInstalled);
    }
    if (!state_.strDBRoot.empty()) return true;
    MsgBox(run::kMessageNotInstalled, run::vbInformation, run::kTitleImport);
    EndProgram(run::kExitNotInstalled);
  } catch (const run::ProgramEnd& end) {
    Terminate(end.status());
  }
  return false;
}

void frmProdukteImport::MsgBox(const std::string& prompt, int style, const std::string& title) {
  // Before the window is shown (the load step) the message stands on its own.
  QMessageBox box(isVisible() ? this : nullptr);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(QString::fromStdString(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(prompt));
  box.setIcon(IconOf(style));
  box.setStandardButtons(QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  message_box_runner_(box);
}

void frmProdukteImport::cmdSaveFile_Click() {
  if (ended_) return;
  // Every failure here, cancelling included, counts as no choice: nothing changes.
  try {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("Datenbank (*.mdb)"));
    dialog.setFileMode(QFileDialog::ExistingFile);  // only an existing file can be confirmed
    dialog.selectFile(QStringLiteral("Kastrel.mdb"));
    AddWineDrivesToSidebar(dialog);
    if (file_dialog_runner_(dialog) != QDialog::Accepted) return;
    const QStringList files = dialog.selectedFiles();
    if (files.size() != 1 || files.front().isEmpty()) return;
    txt_DBPfad->setText(files.front());
    cmdImport->setEnabled(true);
  } catch (...) {
  }
}

void frmProdukteImport::cmdImport_Click() {
  if (ended_ || running_) return;
  running_ = true;
  // The run works on this thread and does not return to the event loop; it ends the program.
  run::RunContext run{state_, txt_DBPfad->text().toStdString(), *this};
  int status = run::kExitUnexpectedError;
  try {
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    status = end.status();
  } catch (const std::exception& e) {
    // A failure outside the run's own error handling (of the window itself).
    try {
      MsgBox(run::UnexpectedErrorMessage(db::ErrorCode::kInternalError,
                                         run::InternalErrorDescription(e)),
             run::vbCritical, run::kTitleImport);
    } catch (...) {
    }
  } catch (...) {
  }
  running_ = false;
  if (auto problem = run::AppendRunLog(run, run::RunKind::kImport, status)) {
    std::cerr << "produkte-import: Warnung: " << *problem << "\n";
  }
  Terminate(status);
}

void frmProdukteImport::cmdClose_Click() {
  if (ended_) return;
  close();
}

void frmProdukteImport::closeEvent(QCloseEvent* event) {
  // Closing the window ends the program at once, without a question.
  event->accept();
  Terminate(0);
}

void frmProdukteImport::Terminate(int status) {
  if (ended_) return;
  ended_ = true;
  exit_status_ = status;
  hide();
  emit programEnded(status);
}

}  // namespace app
