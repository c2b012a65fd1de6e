#include "app/tests/window_test_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "db/connection.h"
#include "db/recordset.h"
#include "run/database_state.h"

namespace window_test {
namespace {

std::string& ScratchPath() {
  static std::string path;
  return path;
}

void RemoveScratch() {
  std::error_code ignored;
  if (!ScratchPath().empty()) std::filesystem::remove_all(ScratchPath(), ignored);
}

QStringList ButtonTexts(const QList<QAbstractButton*>& buttons) {
  QStringList texts;
  for (const QAbstractButton* b : buttons) texts << b->text().remove(QLatin1Char('&'));
  return texts;
}

}  // namespace

void PrepareEnvironment() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pi-window-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  ScratchPath() = pattern;
  std::atexit(RemoveScratch);
  std::filesystem::create_directories(pattern + "/config");
  std::filesystem::create_directories(pattern + "/runtime");
  std::filesystem::create_directories(pattern + "/home");
  ::chmod((pattern + "/runtime").c_str(), 0700);
  // The program reads its one setting from here, and Qt keeps its own files here too.
  ::setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (pattern + "/runtime").c_str(), 1);
  // The log of runs goes here.
  ::setenv("XDG_STATE_HOME", (pattern + "/state").c_str(), 1);
  // Nor a Wine prefix of the user's: ~/.wine and the front ends' prefix folders are the scratch
  // home's, $WINEPREFIX unset.
  ::setenv("HOME", (pattern + "/home").c_str(), 1);
  ::unsetenv("WINEPREFIX");
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("WINE_PREFIXES");
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

QString ScratchRoot() { return QString::fromStdString(ScratchPath()); }

QString NewScratchFolder(const QString& name) {
  QString path = ScratchRoot() + QLatin1Char('/') + name;
  QDir(path).removeRecursively();
  if (!QDir().mkpath(path)) qFatal("cannot create %s", qPrintable(path));
  return path;
}

void WriteSettingsText(const QByteArray& text) {
  QFile file(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/ZentavoSettings.ini");
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write settings");
  file.write(text);
}

void WriteSettings(const QString& root) { WriteSettingsText("[DB]\nRoot=" + root.toUtf8() + "\n"); }

void RemoveSettings() {
  QFile::remove(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/ZentavoSettings.ini");
}

QString Fixture(const QString& name) {
  return QStringLiteral(PI_FIXTURE_DIR) + QLatin1Char('/') + name;
}

QString ScratchTarget(const QString& name, const QString& target) {
  const QString folder = NewScratchFolder(name);
  if (!QFile::copy(Fixture(target), folder + "/DBZentavo.mdb")) qFatal("cannot copy target");
  QFile::setPermissions(folder + "/DBZentavo.mdb", QFile::ReadOwner | QFile::WriteOwner);
  return folder + QLatin1Char('/');
}

Message Describe(const QMessageBox& box) {
  Message m;
  m.title = box.windowTitle();
  m.text = box.text();
  m.icon = box.icon();
  m.buttons = ButtonTexts(box.buttons());
  m.modal = box.windowModality() != Qt::NonModal;
  return m;
}

void MessageAnswers::Install(app::frmProdukteImport& window) {
  window.SetMessageBoxRunner([this](QMessageBox& box) {
    messages_.push_back(Describe(box));
    QAbstractButton* ok = box.button(QMessageBox::Ok);
    if (ok != nullptr) ok->click();
  });
}

DialogSettings Describe(QFileDialog& dialog) {
  DialogSettings s;
  s.name_filters = dialog.nameFilters();
  if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    s.suggested_name = name->text();
  }
  s.file_mode = dialog.fileMode();
  s.accept_mode = dialog.acceptMode();
  s.native = !dialog.testOption(QFileDialog::DontUseNativeDialog);
  s.modal = dialog.isModal();
  s.sidebar = dialog.sidebarUrls();
  if (auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
    s.buttons = ButtonTexts(box->buttons());
  }
  return s;
}

void FileAnswers::Install(app::frmProdukteImport& window) {
  window.SetFileDialogRunner([this](QFileDialog& dialog) {
    shown_.push_back(Describe(dialog));
    if (next_ >= answers_.size()) {
      qWarning("the file dialog was shown more often than the test expected");
      return int(QDialog::Rejected);
    }
    const QString answer = answers_[next_++];
    if (answer.isEmpty()) {
      dialog.reject();
      return dialog.result();
    }
    if (!QFileInfo::exists(answer)) {
      // The dialog refuses the name with a modal warning; answer it once it is shown.
      QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          box->accept();
        }
      });
    }
    dialog.selectFile(answer);
    static_cast<QDialog&>(dialog).accept();  // as the dialog's Open button does
    return dialog.result();
  });
}

PaintCounter::PaintCounter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

bool PaintCounter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint) ++count_;
  return QObject::eventFilter(watched, event);
}

int CountRows(const QString& file, const std::string& table) {
  const QFileInfo info(file);
  auto cn = std::make_shared<db::Connection>();
  cn->Open(run::TargetConnectionString(info.absolutePath().toStdString() + "/"));
  db::Recordset rs;
  rs.Open("SELECT Count(*) AS N FROM " + table, cn);
  const int n = db::ToInt32(rs.Fields().Item("N").Value());
  rs.Close();
  cn->Close();
  return n;
}

}  // namespace window_test
