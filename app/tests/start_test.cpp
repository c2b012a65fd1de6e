// The program's start: without a recorded target folder only the information message is shown,
// the window never is, and the program ends with status 2; otherwise the window appears. Also
// the exit status of the whole program through its event loop.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

#include "app/prefix_choice_dialog.h"
#include "app/tests/window_test_support.h"
#include "run/user_side.h"

using app::frmProdukteImport;
using namespace window_test;

namespace {

// Counts the show events a widget receives.
class ShowCounter : public QObject {
 public:
  explicit ShowCounter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) ++count_;
    return QObject::eventFilter(watched, event);
  }

 private:
  int count_ = 0;
};

bool AnyWindowVisible() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible()) return true;
  }
  return false;
}

}  // namespace

class StartTest : public QObject {
  Q_OBJECT

 private slots:
  void withoutTargetFolderOnlyTheMessage_data() {
    QTest::addColumn<QByteArray>("settings");  // "-": no settings file at all
    QTest::newRow("no settings file") << QByteArray("-");
    QTest::newRow("empty value") << QByteArray("[DB]\nRoot=\n");
  }

  void withoutTargetFolderOnlyTheMessage() {
    QFETCH(QByteArray, settings);
    if (settings == "-") {
      RemoveSettings();
    } else {
      WriteSettingsText(settings);
    }
    frmProdukteImport w;
    MessageAnswers messages;
    messages.Install(w);
    ShowCounter shows(&w);
    QSignalSpy ended(&w, &frmProdukteImport::programEnded);

    QVERIFY(!app::LoadAndShow(w));

    QCOMPARE(messages.messages().size(), 1u);
    const Message& m = messages.messages()[0];
    QCOMPARE(m.title, QStringLiteral("Produkte Import"));
    QCOMPARE(m.text, QString::fromUtf8("Sie müssen zuerst das Programm Zentavo installieren und "
                                       "starten, bevor Sie die Produktedaten importieren können. "
                                       "Das Programm wird jetzt beendet."));
    QCOMPARE(m.icon, QMessageBox::Information);
    QCOMPARE(m.buttons, QStringList{"OK"});
    QVERIFY(m.modal);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 2);
    QVERIFY(w.ended());
    QCOMPARE(w.exitStatus(), 2);
    QCOMPARE(shows.count(), 0);
    QVERIFY(!AnyWindowVisible());
  }

  // A settings file without the entry is a fault of its own, named with its path: the
  // program ends with the status of a missing setting, and the window never shows.
  void settingsFileWithoutTheEntryIsNamed_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::newRow("no section DB") << QByteArray("[Andere]\nRoot=/srv/zentavo/\n");
    QTest::newRow("no key Root") << QByteArray("[DB]\nPfad=/srv/zentavo/\n");
  }

  void settingsFileWithoutTheEntryIsNamed() {
    QFETCH(QByteArray, settings);
    WriteSettingsText(settings);
    frmProdukteImport w;
    MessageAnswers messages;
    messages.Install(w);
    QSignalSpy ended(&w, &frmProdukteImport::programEnded);
    QVERIFY(!app::LoadAndShow(w));
    QCOMPARE(messages.messages().size(), 1u);
    const Message& m = messages.messages()[0];
    QVERIFY2(m.text.contains(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) +
                             "/ZentavoSettings.ini"),
             qPrintable(m.text));
    QCOMPARE(m.icon, QMessageBox::Critical);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(w.exitStatus(), run::kExitNotInstalled);
    QVERIFY(!AnyWindowVisible());
    RemoveSettings();
  }

  // Zentavo's entry in two Wine prefixes: the window asks which one counts, listing each with
  // its database; the pick is loaded, cancelling ends the program with status 2.
  void severalPrefixesAsk() {
    RemoveSettings();
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    const QString prefixes[] = {home + "/.wine", home + "/.PlayOnLinux/wineprefix/Kasse"};
    for (const QString& prefix : prefixes) {
      QVERIFY(QDir().mkpath(prefix + "/drive_c/Zentavo"));
      QVERIFY(QDir().mkpath(prefix + "/dosdevices"));
      QVERIFY(QFile::link("../drive_c", prefix + "/dosdevices/c:"));
      QFile reg(prefix + "/user.reg");
      QVERIFY(reg.open(QIODevice::WriteOnly));
      reg.write(
          "WINE REGISTRY Version 2\n\n[Software\\\\VB and VBA Program Settings\\\\"
          "ZentavoSettings\\\\DB] 1\n\"Root\"=\"C:\\\\Zentavo\\\\\"\n");
      reg.close();
      QFile db(prefix + "/drive_c/Zentavo/DBZentavo.mdb");
      QVERIFY(db.open(QIODevice::WriteOnly));
    }
    for (const bool pick : {true, false}) {
      frmProdukteImport w;
      MessageAnswers messages;
      messages.Install(w);
      QStringList listed;
      w.SetPrefixChoiceRunner([&](app::PrefixChoiceDialog& dialog) {
        QTreeWidget* list = dialog.findChild<QTreeWidget*>("prefixList");
        for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
          listed << list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1);
        }
        if (!pick) return int(QDialog::Rejected);
        list->setCurrentItem(list->topLevelItem(1));
        return int(QDialog::Accepted);
      });
      QSignalSpy ended(&w, &frmProdukteImport::programEnded);
      QCOMPARE(app::LoadAndShow(w), pick);
      QCOMPARE(listed.size(), 2);
      for (int i = 0; i < 2; ++i) {
        QCOMPARE(listed[i], prefixes[i] + " " + prefixes[i] + "/drive_c/Zentavo/DBZentavo.mdb");
      }
      QVERIFY(messages.messages().empty());
      if (pick) {
        QCOMPARE(w.databaseState().strDBRoot, std::string("C:\\Zentavo\\"));
        QCOMPARE(w.databaseState().strDBRootPrefix, prefixes[1].toStdString());
        w.close();
      } else {
        QCOMPARE(ended.count(), 1);
        QCOMPARE(w.exitStatus(), run::kExitNotInstalled);
        QVERIFY(!AnyWindowVisible());
      }
    }
    for (const QString& prefix : prefixes) QDir(prefix).removeRecursively();
  }

  // Only the empty text counts as missing; blanks are accepted here and fail later.
  void blanksAreAFolder() {
    WriteSettingsText("[DB]\nRoot=   \n");
    frmProdukteImport w;
    MessageAnswers messages;
    messages.Install(w);
    QVERIFY(app::LoadAndShow(w));
    QVERIFY(w.isVisible());
    QVERIFY(messages.messages().empty());
    QCOMPARE(w.databaseState().strDBRoot, std::string("   "));
    QVERIFY(!w.ended());
  }

  void theRecordedFolderIsKept() {
    WriteSettings(QString::fromUtf8("/srv/Zentavo Daten/"));
    frmProdukteImport w;
    QVERIFY(app::LoadAndShow(w));
    QCOMPARE(w.databaseState().strDBRoot, std::string("/srv/Zentavo Daten/"));
  }

  // The program as main() runs it: it ends before its event loop when no folder is recorded.
  void programWithoutTargetFolderEndsWithStatus2() {
    RemoveSettings();
    MessageAnswers messages;
    const int status = app::Run(*qApp, [&](frmProdukteImport& w) { messages.Install(w); });
    QCOMPARE(status, run::kExitNotInstalled);
    QCOMPARE(messages.messages().size(), 1u);
    QVERIFY(!AnyWindowVisible());
  }

  // The close button inside the event loop ends the program with status 0.
  void programClosedWithStatus0() {
    WriteSettings(ScratchRoot() + "/ziel/");
    bool was_visible = false;
    const int status = app::Run(*qApp, [&](frmProdukteImport& w) {
      QTimer::singleShot(0, &w, [&w, &was_visible] {
        was_visible = w.isVisible();
        QTest::mouseClick(Control<QPushButton>(w, "cmdClose"), Qt::LeftButton);
      });
    });
    QCOMPARE(status, 0);
    QVERIFY(was_visible);
    QVERIFY(!AnyWindowVisible());
  }
};

PI_WINDOW_TEST_MAIN(StartTest)
#include "start_test.moc"
