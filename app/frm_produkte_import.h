// The program's one window: where to find the source database, the chosen path, the import
// command with its progress bar, and the close button.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/progress_bar_display.h"
#include "run/database_state.h"
#include "run/user_side.h"

class QCloseEvent;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QSplitter;

namespace app {

class PrefixChoiceDialog;

// The window reacts to its load step and to the three buttons. Every way out of it ends the
// program: the window then hides and emits programEnded with the exit status, and handles no
// further event.
class frmProdukteImport : public QWidget, public run::UserSide {
  Q_OBJECT

 public:
  // Runs the file-open dialog that cmdSaveFile has set up, modally; returns QDialog::Accepted
  // when the user confirmed a file. The default is QDialog::exec.
  using FileDialogRunner = std::function<int(QFileDialog&)>;
  // Shows a prepared message box modally and returns when the user has confirmed it. The default
  // is QDialog::exec.
  using MessageBoxRunner = std::function<void(QMessageBox&)>;
  // Runs the question which Wine prefix counts, modally; returns QDialog::Accepted when the user
  // picked one. The default is QDialog::exec.
  using PrefixChoiceRunner = std::function<int(PrefixChoiceDialog&)>;

  explicit frmProdukteImport(QWidget* parent = nullptr);
  ~frmProdukteImport() override;

  // The load step: the target folder from the settings. Without one it shows the information
  // message and ends the program (status kExitNotInstalled) and returns false; the window must
  // then not be shown. When several Wine prefixes hold it, it asks which one counts (cancelling
  // ends the program with the same status); a fault of the lookup (host/target_lookup.h) is shown
  // with the path it concerns, and the program ends with that status too.
  bool Form_Load();

  void SetFileDialogRunner(FileDialogRunner runner);
  void SetMessageBoxRunner(MessageBoxRunner runner);
  void SetPrefixChoiceRunner(PrefixChoiceRunner runner);

  bool ended() const { return ended_; }
  int exitStatus() const { return exit_status_; }
  const run::DatabaseState& databaseState() const { return state_; }

  // UserSide: the run's messages and its progress display.
  void MsgBox(const std::string& prompt, int style, const std::string& title) override;
  run::ProgressDisplay& Progress() override { return *progress_; }

 signals:
  // The program ends with this status; emitted once.
  void programEnded(int status);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void cmdSaveFile_Click();
  void cmdImport_Click();
  void cmdClose_Click();
  // Hides the window, ignores every further event and reports the end.
  void Terminate(int status);

  // The controls, in the order the window creates them.
  QSplitter* SSSplitter1;
  QSplitter* upperPart;  // the upper part of SSSplitter1, split into Pane A and Pane C
  QWidget* Picture1;
  QLabel* Label2;
  QWidget* Picture2;
  QPushButton* cmdImport;
  QLineEdit* txt_DBPfad;
  QPushButton* cmdSaveFile;
  QProgressBar* ProgressBar;
  QLabel* Label1;
  QPushButton* cmdClose;

  std::unique_ptr<ProgressBarDisplay> progress_;
  run::DatabaseState state_;
  FileDialogRunner file_dialog_runner_;
  MessageBoxRunner message_box_runner_;
  PrefixChoiceRunner prefix_choice_runner_;
  bool ended_ = false;
  bool running_ = false;
  int exit_status_ = 0;
};

}  // namespace app
