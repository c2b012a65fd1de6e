// A whole import driven through the window: the file chosen in the dialog, the import button,
// the progress bar painted during the run, the completion message and the exit status; and a
// source that fails the validation.
#include <QCryptographicHash>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "app/tests/window_test_support.h"
#include "run/user_side.h"

using app::frmProdukteImport;
using namespace window_test;

namespace {

QByteArray Hash(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

}  // namespace

class ImportTest : public QObject {
  Q_OBJECT

 private slots:
  void completeImportThroughTheButtons() {
    const QString folder = ScratchTarget("import-ok");
    WriteSettings(folder);
    frmProdukteImport w;
    MessageAnswers messages;
    messages.Install(w);
    FileAnswers files;
    files.Install(w);
    files.Confirm(Fixture("source.mdb"));
    QVERIFY(app::LoadAndShow(w));
    QVERIFY(QTest::qWaitForWindowExposed(&w, kExposeWaitMs));
    auto* bar = Control<QProgressBar>(w, "ProgressBar");
    PaintCounter paints(bar);
    QSignalSpy ended(&w, &frmProdukteImport::programEnded);

    QTest::mouseClick(Control<QPushButton>(w, "cmdSaveFile"), Qt::LeftButton);
    QVERIFY(Control<QPushButton>(w, "cmdImport")->isEnabled());
    QTest::mouseClick(Control<QPushButton>(w, "cmdImport"), Qt::LeftButton);

    // Exactly one message: the completion, then the end with status 0.
    QCOMPARE(messages.messages().size(), 1u);
    const Message& m = messages.messages()[0];
    QCOMPARE(m.title, QStringLiteral("Produkte Import"));
    QCOMPARE(m.text, QString::fromUtf8("Der Produktedaten Import ist abgeschlossen. Das Programm "
                                       "wird nun beendet."));
    QCOMPARE(m.icon, QMessageBox::Information);
    QCOMPARE(m.buttons, QStringList{"OK"});
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 0);
    QCOMPARE(w.exitStatus(), 0);
    QVERIFY(!w.isVisible());

    // The bar was shown and painted during the run; the last phase counts the 247 products and
    // leaves the bar at 246 of 247.
    QVERIFY(bar->isVisibleTo(&w));
    // The bar repaints whenever its picture changes by a chunk: every few of the 249 articles,
    // 25 add-ons and 247 products; without the repaints nothing would be painted until the end.
    QVERIFY2(paints.count() >= 30, qPrintable(QString::number(paints.count())));
    QCOMPARE(bar->maximum(), 247);
    QCOMPARE(bar->value(), 246);

    const QString target = folder + "DBZentavo.mdb";
    QCOMPARE(CountRows(target, "tbl_Verwaltung_ProdukteKategorien"), 13);
    QCOMPARE(CountRows(target, "tbl_Verwaltung_Produkte"), 247);
    QCOMPARE(CountRows(target, "tbl_Verwaltung_Produkte_Preise"), 2470);
    QCOMPARE(CountRows(target, "tbl_Verwaltung_ProdukteExtras"), 24);
    QCOMPARE(CountRows(target, "tbl_Verwaltung_ProdukteExtras_Preise"), 240);
    QCOMPARE(CountRows(target, "tbl_Verwaltung_Produkte_Extras"), 247 * 24);
    QCOMPARE(CountRows(target, "tbl_Kunden"), 297);  // not a product table: unchanged
  }

  void sourceThatFailsTheValidation() {
    const QString folder = ScratchTarget("import-invalid");
    WriteSettings(folder);
    const QByteArray before = Hash(folder + "DBZentavo.mdb");
    frmProdukteImport w;
    MessageAnswers messages;
    messages.Install(w);
    FileAnswers files;
    files.Install(w);
    files.Confirm(Fixture("not-a-database.mdb"));
    QVERIFY(app::LoadAndShow(w));
    QSignalSpy ended(&w, &frmProdukteImport::programEnded);

    QTest::mouseClick(Control<QPushButton>(w, "cmdSaveFile"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(w, "cmdImport"), Qt::LeftButton);

    QCOMPARE(messages.messages().size(), 1u);
    const Message& m = messages.messages()[0];
    QCOMPARE(m.title, QString::fromUtf8("Ungültige Datenbank"));
    QCOMPARE(m.text, QString::fromUtf8("Es ist ein Fehler aufgetreten. Die Daten können von "
                                       "dieser Datenbank nicht eingelesen werden. Das Programm "
                                       "wird jetzt beendet."));
    QCOMPARE(m.icon, QMessageBox::Critical);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), run::kExitInvalidSource);
    QCOMPARE(Hash(folder + "DBZentavo.mdb"), before);
    QVERIFY(!Control<QProgressBar>(w, "ProgressBar")->isVisibleTo(&w));
  }

  // The program as main() runs it, driven from inside its event loop; its exit status.
  void programExitStatus_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("status");
    QTest::newRow("complete") << "source.mdb" << run::kExitCompleted;
    QTest::newRow("invalid source") << "source-missing-column.mdb" << run::kExitInvalidSource;
  }

  void programExitStatus() {
    QFETCH(QString, source);
    QFETCH(int, status);
    const QString folder = ScratchTarget("import-program");
    WriteSettings(folder);
    MessageAnswers messages;
    FileAnswers files;
    files.Confirm(Fixture(source));
    const int result = app::Run(*qApp, [&](frmProdukteImport& w) {
      messages.Install(w);
      files.Install(w);
      QTimer::singleShot(0, &w, [&w] {
        QTest::mouseClick(Control<QPushButton>(w, "cmdSaveFile"), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(w, "cmdImport"), Qt::LeftButton);
      });
    });
    QCOMPARE(result, status);
    QCOMPARE(messages.messages().size(), 1u);
  }
};

PI_WINDOW_TEST_MAIN(ImportTest)
#include "import_test.moc"
