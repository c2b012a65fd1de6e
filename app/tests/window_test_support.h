// What the window's tests share: a scratch settings folder set before the application starts,
// answers for the window's file dialog and message boxes, and scratch target databases.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include "app/frm_produkte_import.h"
#include "app/program.h"

namespace window_test {

// How long a test waits at most for a shown window to be exposed; it goes on as soon as it is.
// Generous, so that a busy machine does not fail a test.
inline constexpr int kExposeWaitMs = 60000;

// Sets XDG_CONFIG_HOME to an empty scratch folder (removed at exit), HOME to another (so ~/.wine
// is a scratch prefix), unsets WINEPREFIX, and sets the offscreen platform unless another is
// named. Runs before QApplication, so nothing ever reads the real settings.
void PrepareEnvironment();

// The scratch folder of this test program (created by PrepareEnvironment).
QString ScratchRoot();
// A new empty folder below ScratchRoot().
QString NewScratchFolder(const QString& name);

// The settings file $XDG_CONFIG_HOME/ZentavoSettings.ini with [DB] Root=`root`.
void WriteSettings(const QString& root);
void WriteSettingsText(const QByteArray& text);
void RemoveSettings();

// A folder holding a copy of tests/data/`target` as DBZentavo.mdb; returns it with a final '/'.
QString ScratchTarget(const QString& name, const QString& target = QStringLiteral("target.mdb"));

QString Fixture(const QString& name);

// A message box as the window prepared it.
struct Message {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;  // the texts of its buttons
  bool modal = false;
};

// Answers every message box of a window with OK, recording what it showed.
class MessageAnswers {
 public:
  void Install(app::frmProdukteImport& window);
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::vector<Message> messages_;
};

Message Describe(const QMessageBox& box);

// The file dialog as the window prepared it.
struct DialogSettings {
  QStringList name_filters;
  QString suggested_name;  // the text of the dialog's name field
  QFileDialog::FileMode file_mode = QFileDialog::AnyFile;
  QFileDialog::AcceptMode accept_mode = QFileDialog::AcceptSave;
  bool native = true;
  bool modal = false;
  QStringList buttons;  // the texts of its buttons, without '&'
  QList<QUrl> sidebar;  // the places in its sidebar, in order
};

DialogSettings Describe(QFileDialog& dialog);

// Answers the window's file dialogs one after the other: a path confirms it through the dialog
// itself (which refuses a name that does not exist), an empty string cancels.
class FileAnswers {
 public:
  void Install(app::frmProdukteImport& window);
  void Confirm(const QString& path) { answers_.push_back(path); }
  void Cancel() { answers_.emplace_back(); }
  const std::vector<DialogSettings>& shown() const { return shown_; }

 private:
  std::vector<QString> answers_;
  std::size_t next_ = 0;
  std::vector<DialogSettings> shown_;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget);
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int count_ = 0;
};

// Rows of a table of a target database (with its password), counted by the record layer.
int CountRows(const QString& file, const std::string& table);

template <class W>
W* Control(QWidget& window, const char* name) {
  return window.findChild<W*>(QString::fromLatin1(name));
}

}  // namespace window_test

// main() of a window test: scratch settings, the application, Qt's German texts, the suite.
#define PI_WINDOW_TEST_MAIN(TestClass)       \
  int main(int argc, char** argv) {          \
    window_test::PrepareEnvironment();       \
    QApplication app(argc, argv);            \
    app::InstallGermanTranslations(app);     \
    TestClass suite;                         \
    return QTest::qExec(&suite, argc, argv); \
  }
