// The window at load: controls, containers, placement, texts, fonts, states and tab order; the
// file choice; the close button and the close command; the message boxes and the progress bar.
#include <QDir>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "app/progress_bar_display.h"
#include "app/tests/window_test_support.h"
#include "run/user_side.h"

using app::frmProdukteImport;
using namespace window_test;

namespace {

const QString kLabel2Text = QString::fromUtf8(
    "Suchen Sie im Programm Verzeichnis von Orbelin nach der Datenbank \"Kastrel.mdb\" im "
    "Verzeichnis Data. Nachdem Sie den Zielpfad angegeben haben, drücken Sie auf die Taste "
    "\"Produkte Importieren\". Die Daten werden nun in  die Datenbank von Zentavo importiert.");
const QString kPathAtLoad = QString::fromUtf8("Anzeige des Zielverzeichnises für den Import.");

// A window after its load step, shown and exposed unless `show` is false.
std::unique_ptr<frmProdukteImport> LoadedWindow(bool show = true) {
  WriteSettings(ScratchRoot() + "/ziel/");
  auto window = std::make_unique<frmProdukteImport>();
  if (!app::LoadAndShow(*window)) qFatal("the load step ended the program");
  if (!show) window->hide();
  if (show && !QTest::qWaitForWindowExposed(window.get(), kExposeWaitMs))
    qFatal("window not exposed");
  return window;
}

// The file the tests choose: a path with blanks and non-ASCII letters.
QString ExistingFileWithOddName() {
  const QString folder = NewScratchFolder(QString::fromUtf8("Daten Ä ö"));
  QString path = folder + QString::fromUtf8("/Quelle ß 1.txt");
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
  f.write("keine Datenbank");
  return path;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void captionIconAndClientArea() {
    auto w = LoadedWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Produkte Import: Orbelin nach Zentavo"));
    QCOMPARE(w->size(), QSize(527, 213));  // 7905 by 3195 twips
    QVERIFY(!w->windowIcon().isNull());
    const QImage committed(QStringLiteral(PI_SOURCE_DIR "/app/icons/produkte-import.png"));
    QCOMPARE(committed.size(), QSize(32, 32));
    QVERIFY(!committed.hasAlphaChannel());  // 24-bit colour
    QCOMPARE(w->windowIcon().pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_RGB32),
             committed.convertToFormat(QImage::Format_RGB32));
  }

  void controlsAndContainers() {
    auto w = LoadedWindow();
    auto* splitter = Control<QSplitter>(*w, "SSSplitter1");
    QVERIFY(splitter != nullptr);
    QCOMPARE(splitter->parentWidget(), w.get());
    QCOMPARE(splitter->orientation(), Qt::Vertical);
    QCOMPARE(splitter->count(), 2);
    QCOMPARE(splitter->handleWidth(), 5);  // 75 twips
    auto* upper = qobject_cast<QSplitter*>(splitter->widget(0));
    QVERIFY(upper != nullptr);
    QCOMPARE(upper->orientation(), Qt::Horizontal);
    QCOMPARE(upper->count(), 2);
    QCOMPARE(upper->handleWidth(), 5);
    // Pane A upper left, Pane C upper right, Pane B the bottom.
    QCOMPARE(upper->widget(0), Control<QWidget>(*w, "Picture1"));
    QCOMPARE(upper->widget(1), Control<QWidget>(*w, "Picture2"));
    QCOMPARE(splitter->widget(1), Control<QPushButton>(*w, "cmdClose"));

    QWidget* picture1 = Control<QWidget>(*w, "Picture1");
    QWidget* picture2 = Control<QWidget>(*w, "Picture2");
    QCOMPARE(Control<QLabel>(*w, "Label2")->parentWidget(), picture1);
    QCOMPARE(Control<QLabel>(*w, "Label1")->parentWidget(), picture2);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->parentWidget(), picture2);
    QCOMPARE(Control<QPushButton>(*w, "cmdSaveFile")->parentWidget(), picture2);
    QCOMPARE(Control<QPushButton>(*w, "cmdImport")->parentWidget(), picture2);
    QCOMPARE(Control<QProgressBar>(*w, "ProgressBar")->parentWidget(), picture2);
  }

  // The window as large as in the README's screenshot, which shows its client area.
  void sizeOfTheScreenshot() {
    const QImageReader screenshot(QStringLiteral(PI_SOURCE_DIR "/docs/produkte-import-window.png"));
    QVERIFY(screenshot.canRead());
    auto w = LoadedWindow();
    QCOMPARE(w->size(), screenshot.size());
  }

  void placement_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("container");
    QTest::newRow("SSSplitter1") << "SSSplitter1"
                                 << "frmProdukteImport";
    QTest::newRow("Picture1") << "Picture1"
                              << "SSSplitter1";
    QTest::newRow("Label2") << "Label2"
                            << "Picture1";
    QTest::newRow("Picture2") << "Picture2"
                              << "SSSplitter1";
    QTest::newRow("cmdImport") << "cmdImport"
                               << "Picture2";
    QTest::newRow("txt_DBPfad") << "txt_DBPfad"
                                << "Picture2";
    QTest::newRow("cmdSaveFile") << "cmdSaveFile"
                                 << "Picture2";
    QTest::newRow("ProgressBar") << "ProgressBar"
                                 << "Picture2";
    QTest::newRow("Label1") << "Label1"
                            << "Picture2";
    QTest::newRow("cmdClose") << "cmdClose"
                              << "SSSplitter1";
  }

  // Every control is seen whole: not empty, and inside its container's client area.
  void placement() {
    QFETCH(QString, control);
    QFETCH(QString, container);
    auto w = LoadedWindow();
    QWidget* widget = w->findChild<QWidget*>(control);
    QWidget* box = container == w->objectName() ? w.get() : w->findChild<QWidget*>(container);
    QVERIFY(widget != nullptr);
    QVERIFY(box != nullptr);
    QVERIFY(box->isAncestorOf(widget));
    QVERIFY(!widget->size().isEmpty());
    QRect client = box->rect();
    if (auto* frame = qobject_cast<QFrame*>(box)) client = frame->contentsRect();
    const QRect placed(widget->mapTo(box, QPoint(0, 0)), widget->size());
    QVERIFY2(client.contains(placed), qPrintable(control));
  }

  // What the screenshot shows: the instructions left of the import pane; in the import pane the
  // label, the path and the "..." button on one row, left to right, the import button below
  // them and the progress bar below that; the close button below both panes, across the window.
  void arrangement() {
    auto w = LoadedWindow();
    const auto at = [&](const char* name) {
      QWidget* widget = Control<QWidget>(*w, name);
      return QRect(widget->mapTo(w.get(), QPoint(0, 0)), widget->size());
    };
    QVERIFY(at("Picture1").right() < at("Picture2").left());
    QVERIFY(at("Label1").right() <= at("txt_DBPfad").left());
    QVERIFY(at("txt_DBPfad").right() < at("cmdSaveFile").left());
    QCOMPARE(at("Label1").top(), at("txt_DBPfad").top());
    QCOMPARE(at("txt_DBPfad").top(), at("cmdSaveFile").top());
    QVERIFY(at("txt_DBPfad").bottom() < at("cmdImport").top());
    QVERIFY(at("cmdImport").bottom() < at("ProgressBar").top());
    QVERIFY(at("Picture1").bottom() < at("cmdClose").top());
    QVERIFY(at("Picture2").bottom() < at("cmdClose").top());
    QCOMPARE(at("cmdClose").width(), w->width());
    QCOMPARE(at("cmdClose").bottom(), w->height() - 1);
  }

  void textsAndTooltips_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("Label2") << "Label2" << kLabel2Text << QString();
    QTest::newRow("Label1") << "Label1"
                            << "Zielpfad:" << QString();
    QTest::newRow("txt_DBPfad") << "txt_DBPfad" << kPathAtLoad << QString();
    QTest::newRow("cmdSaveFile") << "cmdSaveFile"
                                 << "..."
                                 << "Suche nach dem Speicherungsverzeichnis des Backup.";
    QTest::newRow("cmdImport") << "cmdImport"
                               << "Produkte Importieren"
                               << "Befehl zum Backup erstellen.";
    QTest::newRow("ProgressBar") << "ProgressBar" << QString() << "Verlauf der Backuperstellung.";
    QTest::newRow("cmdClose") << "cmdClose"
                              << "Schliessen"
                              << "Schliesst das Fenster.";
  }

  void textsAndTooltips() {
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, tooltip);
    auto w = LoadedWindow();
    QWidget* widget = w->findChild<QWidget*>(control);
    QVERIFY(widget != nullptr);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      QCOMPARE(label->text(), text);
      QCOMPARE(label->textFormat(), Qt::PlainText);  // the quotes stay as they are
      QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      QCOMPARE(edit->text(), text);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      QCOMPARE(button->text(), text);
    } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
      QVERIFY(!bar->isTextVisible());
    }
    QCOMPARE(widget->toolTip(), tooltip);
  }

  void fonts_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("family");  // empty: the window's own font
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::newRow("Label2") << "Label2" << QString() << 0.0 << false;
    QTest::newRow("Label1") << "Label1"
                            << "Arial" << 9.75 << true;
    QTest::newRow("txt_DBPfad") << "txt_DBPfad" << QString() << 0.0 << false;
    QTest::newRow("cmdSaveFile") << "cmdSaveFile" << QString() << 0.0 << false;
    QTest::newRow("cmdImport") << "cmdImport"
                               << "Arial" << 8.25 << true;
    QTest::newRow("cmdClose") << "cmdClose"
                              << "Arial" << 9.75 << true;
  }

  void fonts() {
    QFETCH(QString, control);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    auto w = LoadedWindow();
    QWidget* widget = w->findChild<QWidget*>(control);
    QVERIFY(widget != nullptr);
    if (family.isEmpty()) {
      QCOMPARE(widget->font(), w->font());
      QVERIFY(!widget->font().bold());
    } else {
      QCOMPARE(widget->font().family(), family);
      QCOMPARE(widget->font().pointSizeF(), points);
      QCOMPARE(widget->font().bold(), bold);
      QVERIFY(widget->font() != w->font());
    }
  }

  // The texts are legible within the sizes of the layout.
  void textsFitTheirControls() {
    auto w = LoadedWindow();
    // The instructions wrap onto several lines rather than run past the pane's edge.
    auto* label2 = Control<QLabel>(*w, "Label2");
    QVERIFY(label2->heightForWidth(label2->width()) > 2 * label2->fontMetrics().height());
    QVERIFY2(label2->heightForWidth(label2->width()) <= label2->height(),
             qPrintable(QString::number(label2->heightForWidth(label2->width()))));
    auto* label1 = Control<QLabel>(*w, "Label1");
    QVERIFY(label1->fontMetrics().horizontalAdvance(label1->text()) <= label1->width());
    for (const char* name : {"cmdImport", "cmdClose", "cmdSaveFile"}) {
      auto* button = Control<QPushButton>(*w, name);
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(), name);
      QVERIFY2(button->fontMetrics().height() <= button->height(), name);
    }
  }

  void statesAtLoad() {
    auto w = LoadedWindow();
    QVERIFY(w->isVisible());
    QVERIFY(!Control<QPushButton>(*w, "cmdImport")->isEnabled());
    QVERIFY(Control<QPushButton>(*w, "cmdSaveFile")->isEnabled());
    QVERIFY(Control<QPushButton>(*w, "cmdClose")->isEnabled());
    QVERIFY(Control<QLineEdit>(*w, "txt_DBPfad")->isEnabled());
    QVERIFY(Control<QLabel>(*w, "Label1")->isVisible());
    QVERIFY(Control<QLabel>(*w, "Label2")->isVisible());
    auto* bar = Control<QProgressBar>(*w, "ProgressBar");
    QVERIFY(!bar->isVisible());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(w->focusWidget(), Control<QPushButton>(*w, "cmdClose"));

    // The import command cannot be used yet.
    MessageAnswers messages;
    messages.Install(*w);
    QSignalSpy ended(w.get(), &frmProdukteImport::programEnded);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdImport"), Qt::LeftButton);
    QCOMPARE(ended.count(), 0);
    QVERIFY(messages.messages().empty());
    QVERIFY(w->isVisible());
  }

  void tabOrder() {
    auto w = LoadedWindow();
    QStringList order;
    QWidget* start = Control<QPushButton>(*w, "cmdClose");
    QWidget* next = start;
    do {
      if ((next->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isAncestorOf(next)) {
        order << next->objectName();
      }
      next = next->nextInFocusChain();
    } while (next != start && order.size() < 20);
    QCOMPARE(order, (QStringList{"cmdClose", "cmdSaveFile", "txt_DBPfad", "cmdImport"}));
  }

  void fileChoiceConfirm() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    const QString source = Fixture("source.mdb");
    answers.Confirm(source);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(answers.shown().size(), 1u);
    const DialogSettings& d = answers.shown()[0];
    QCOMPARE(d.name_filters, QStringList{"Datenbank (*.mdb)"});
    QCOMPARE(d.suggested_name, QStringLiteral("Kastrel.mdb"));
    QCOMPARE(d.file_mode, QFileDialog::ExistingFile);
    QCOMPARE(d.accept_mode, QFileDialog::AcceptOpen);
    QVERIFY(!d.native);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), source);
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  // The drive_c of every Wine prefix ($WINEPREFIX first, then ~/.wine) follows the usual places
  // in the sidebar; the dialog's settings stay as they are; a folder that is no prefix is not
  // offered.
  void fileChoiceOffersTheWinePrefixes() {
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    const QString named = NewScratchFolder("prefix-kasse");
    QVERIFY(QDir().mkpath(home + "/.wine/drive_c/Program Files"));
    QVERIFY(QDir().mkpath(named + "/drive_c"));
    qputenv("WINEPREFIX", named.toLocal8Bit());
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    answers.Cancel();
    answers.Cancel();
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    qputenv("WINEPREFIX", (ScratchRoot() + "/no-prefix").toLocal8Bit());
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    qunsetenv("WINEPREFIX");
    QDir(home + "/.wine").removeRecursively();
    QCOMPARE(answers.shown().size(), 2u);

    const DialogSettings& d = answers.shown()[0];
    const QUrl named_drive = QUrl::fromLocalFile(named + "/drive_c");
    const QUrl default_drive = QUrl::fromLocalFile(home + "/.wine/drive_c");
    QVERIFY2(d.sidebar.size() >= 3, qPrintable(QUrl::toStringList(d.sidebar).join('|')));
    QCOMPARE(d.sidebar.mid(d.sidebar.size() - 2), (QList<QUrl>{named_drive, default_drive}));
    QVERIFY(d.sidebar.contains(QUrl::fromLocalFile(home)));  // the usual places stay
    QCOMPARE(d.name_filters, QStringList{"Datenbank (*.mdb)"});
    QCOMPARE(d.suggested_name, QStringLiteral("Kastrel.mdb"));
    QCOMPARE(d.file_mode, QFileDialog::ExistingFile);
    QVERIFY(!d.native);
    // Each place once, also when the dialog remembered the places of its last showing.
    const QList<QUrl>& again = answers.shown()[1].sidebar;
    QCOMPARE(again.count(named_drive), again.contains(named_drive) ? 1 : 0);
    QCOMPARE(again.count(default_drive), again.contains(default_drive) ? 1 : 0);
    QVERIFY(!Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  void fileChoiceCancelFirst() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    answers.Cancel();
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(answers.shown().size(), 1u);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), kPathAtLoad);
    QVERIFY(!Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  void fileChoiceCancelAfterAChoice() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    const QString source = Fixture("source.mdb");
    answers.Confirm(source);
    answers.Cancel();
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(answers.shown().size(), 2u);
    // Each showing suggests Kastrel.mdb again, not the file chosen before.
    QCOMPARE(answers.shown()[1].suggested_name, QStringLiteral("Kastrel.mdb"));
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), source);
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  void fileChoiceSecondReplacesTheFirst() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    answers.Confirm(Fixture("source.mdb"));
    answers.Confirm(Fixture("source-quotes.mdb"));
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), Fixture("source-quotes.mdb"));
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  // Any existing file can be chosen; its path reaches the box unchanged, blanks and all.
  void fileChoiceAnyNameUnchanged() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    const QString odd = ExistingFileWithOddName();
    answers.Confirm(odd);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), odd);
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  // The dialog itself refuses a name that does not exist; that is no choice.
  void fileChoiceRefusesAMissingFile() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    answers.Confirm(ScratchRoot() + "/gibt-es-nicht/Kastrel.mdb");
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(answers.shown().size(), 1u);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), kPathAtLoad);
    QVERIFY(!Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  void fileChoiceErrorCountsAsNoChoice() {
    auto w = LoadedWindow();
    FileAnswers answers;
    answers.Install(*w);
    answers.Confirm(Fixture("source.mdb"));
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    w->SetFileDialogRunner([](QFileDialog&) -> int { throw std::runtime_error("Dialogfehler"); });
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), Fixture("source.mdb"));
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  // The real modal dialog, answered from inside its event loop: German, modal, then cancelled;
  // the second time a file is confirmed.
  void realFileDialog() {
    auto w = LoadedWindow();
    DialogSettings seen;
    bool visible = false;
    QString title;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;  // the test fails below
      seen = Describe(*dialog);
      visible = dialog->isVisible();
      title = dialog->windowTitle();
      dialog->reject();
    });
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QVERIFY(visible);
    QVERIFY(seen.modal);
    QVERIFY(!seen.native);
    QCOMPARE(seen.suggested_name, QStringLiteral("Kastrel.mdb"));
    QVERIFY2(seen.buttons.contains(QString::fromUtf8("Öffnen")),
             qPrintable(seen.buttons.join('|')));
    QVERIFY2(seen.buttons.contains(QStringLiteral("Abbrechen")),
             qPrintable(seen.buttons.join('|')));
    QCOMPARE(title, QString::fromUtf8("Öffnen"));
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), kPathAtLoad);
    QVERIFY(!Control<QPushButton>(*w, "cmdImport")->isEnabled());

    const QString source = Fixture("source.mdb");
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->selectFile(source);
      static_cast<QDialog*>(dialog)->accept();
    });
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>(*w, "txt_DBPfad")->text(), source);
    QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
  }

  // The real modal message box, answered from inside its event loop.
  void realMessageBox_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("icon");
    QTest::newRow("vbInformation") << run::vbInformation << int(QMessageBox::Information);
    QTest::newRow("vbCritical") << run::vbCritical << int(QMessageBox::Critical);
  }

  void realMessageBox() {
    QFETCH(int, style);
    QFETCH(int, icon);
    auto w = LoadedWindow();
    Message seen;
    bool visible = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = Describe(*box);
      visible = box->isVisible();
      box->button(QMessageBox::Ok)->click();
    });
    w->MsgBox(run::kMessageCompleted, style, run::kTitleImport);
    QVERIFY(visible);
    QVERIFY(seen.modal);
    QCOMPARE(seen.title, QStringLiteral("Produkte Import"));
    QCOMPARE(seen.text, QString::fromUtf8(run::kMessageCompleted));
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.buttons, QStringList{"OK"});
  }

  void closeButtonEndsAtOnce_data() {
    QTest::addColumn<bool>("chosen");
    QTest::newRow("waiting for a file") << false;
    QTest::newRow("ready") << true;
  }

  void closeButtonEndsAtOnce() {
    QFETCH(bool, chosen);
    auto w = LoadedWindow();
    MessageAnswers messages;
    messages.Install(*w);
    FileAnswers answers;
    answers.Install(*w);
    if (chosen) {
      answers.Confirm(Fixture("source.mdb"));
      QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
      QVERIFY(Control<QPushButton>(*w, "cmdImport")->isEnabled());
    }
    QSignalSpy ended(w.get(), &frmProdukteImport::programEnded);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdClose"), Qt::LeftButton);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 0);
    QVERIFY(w->ended());
    QVERIFY(!w->isVisible());
    QVERIFY(messages.messages().empty());  // no question
    // Nothing reacts any more.
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSaveFile"), Qt::LeftButton);
    QCOMPARE(answers.shown().size(), chosen ? 1u : 0u);
    QCOMPARE(ended.count(), 1);
  }

  void windowCloseCommandEndsAtOnce() {
    auto w = LoadedWindow();
    QSignalSpy ended(w.get(), &frmProdukteImport::programEnded);
    QVERIFY(w->close());
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 0);
    QVERIFY(!w->isVisible());
  }

  // The bar is painted as the run changes it, although the run never returns to the event loop.
  void progressPaintsWithoutTheEventLoop() {
    auto w = LoadedWindow();
    auto* bar = Control<QProgressBar>(*w, "ProgressBar");
    PaintCounter paints(bar);
    run::ProgressDisplay& progress = w->Progress();
    progress.SetVisible(true);
    progress.Refresh();
    QVERIFY(bar->isVisible());
    int before = paints.count();
    QVERIFY(before >= 1);
    progress.SetMax(10);
    QCOMPARE(bar->maximum(), 10);
    for (int i = 0; i < 10; ++i) {
      before = paints.count();
      progress.SetValue(static_cast<float>(i));
      QCOMPARE(bar->value(), i);
      if (i > 0) QVERIFY2(paints.count() > before, qPrintable(QString::number(i)));
    }
  }

  void progressMaximumZeroShowsAnEmptyBar() {
    QProgressBar bar;
    app::ProgressBarDisplay display(&bar);
    QCOMPARE(bar.maximum(), 100);
    QCOMPARE(bar.value(), 0);
    display.SetMax(0);
    QCOMPARE(bar.minimum(), 0);
    QCOMPARE(bar.maximum(), 1);  // 0..0 would be Qt's busy indicator
    QCOMPARE(bar.value(), 0);
    display.SetValue(0);
    QCOMPARE(bar.value(), 0);
  }

  void progressKeepsTheValueAcrossPhases() {
    QProgressBar bar;
    app::ProgressBarDisplay display(&bar);
    display.SetMax(500);
    display.SetValue(499);
    QCOMPARE(bar.maximum(), 500);
    QCOMPARE(bar.value(), 499);
    // A new maximum below the value still shown: a full bar until the next value.
    display.SetMax(24);
    QCOMPARE(bar.maximum(), 24);
    QCOMPARE(bar.value(), 24);
    display.SetValue(0);
    QCOMPARE(bar.value(), 0);
    display.SetMax(1000);
    QCOMPARE(bar.value(), 0);
    display.SetValue(998.6f);
    QCOMPARE(bar.value(), 999);
  }
};

PI_WINDOW_TEST_MAIN(WindowTest)
#include "window_test.moc"
