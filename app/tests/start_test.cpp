// The program's start: without a recorded target folder only the information message is shown,
// the window never is, and the program ends with status 2; otherwise the window appears. Also
// the exit status of the whole program through its event loop.
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

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
    QTest::newRow("no section DB") << QByteArray("[Andere]\nRoot=/srv/zentavo/\n");
    QTest::newRow("no key Root") << QByteArray("[DB]\nPfad=/srv/zentavo/\n");
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
