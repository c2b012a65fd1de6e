// Screenshots of the window on a real X server (run under xvfb-run): at load, after a file was
// chosen, at the end of an import behind its message, and the completion message itself. They
// are kept as PNG files in the build folder (app/tests/screenshots/) to be looked at; the test
// checks that each shows what the window's state says.
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/tests/window_test_support.h"

using app::frmProdukteImport;
using namespace window_test;

namespace {

const QString kShots = QStringLiteral(PI_SCREENSHOT_DIR);

// What the X server shows of a widget's window, after painting it.
QImage Shot(QWidget& widget) {
  widget.repaint();
  QCoreApplication::processEvents();
  QScreen* screen = widget.screen();
  const QPixmap pixmap = screen->grabWindow(widget.winId());
  return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

void Keep(const QImage& image, const QString& name) {
  QDir().mkpath(kShots);
  const QString path = kShots + QLatin1Char('/') + name;
  if (!image.save(path)) qWarning("cannot save %s", qPrintable(path));
  qInfo("screenshot: %s", qPrintable(path));
}

// The part of a window's picture under one of its controls.
QImage Part(const QImage& shot, QWidget& window, QWidget* control, qreal dpr) {
  const QRect r(control->mapTo(&window, QPoint(0, 0)), control->size());
  return shot.copy(QRect((r.topLeft() * dpr), r.size() * dpr));
}

int Colours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  }
  return int(colours.size());
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
      QSKIP("needs an X server: run under xvfb-run");
    }
  }

  void screenshots() {
    const QString folder = ScratchTarget("screenshots");
    WriteSettings(folder);
    frmProdukteImport w;
    FileAnswers files;
    files.Install(w);
    files.Confirm(Fixture("source.mdb"));
    QImage at_end, message;
    QString message_title;
    w.SetMessageBoxRunner([&](QMessageBox& box) {
      at_end = Shot(w);
      box.show();
      if (QTest::qWaitForWindowExposed(&box, kExposeWaitMs)) message = Shot(box);
      message_title = box.windowTitle();
      box.button(QMessageBox::Ok)->click();
    });
    QVERIFY(app::LoadAndShow(w));
    QVERIFY(QTest::qWaitForWindowExposed(&w, kExposeWaitMs));
    const qreal dpr = w.devicePixelRatioF();

    const QImage at_load = Shot(w);
    Keep(at_load, "window-at-load.png");
    QCOMPARE(at_load.size(), QSize(527, 213) * dpr);
    QVERIFY(Colours(at_load) > 8);

    QTest::mouseClick(Control<QPushButton>(w, "cmdSaveFile"), Qt::LeftButton);
    const QImage chosen = Shot(w);
    Keep(chosen, "window-file-chosen.png");

    auto* path = Control<QLineEdit>(w, "txt_DBPfad");
    auto* import_button = Control<QPushButton>(w, "cmdImport");
    auto* bar = Control<QProgressBar>(w, "ProgressBar");
    auto* label2 = Control<QWidget>(w, "Label2");
    // The path box and the import button changed; the instructions did not.
    QVERIFY(Part(at_load, w, path, dpr) != Part(chosen, w, path, dpr));
    QVERIFY(Part(at_load, w, import_button, dpr) != Part(chosen, w, import_button, dpr));
    QCOMPARE(Part(at_load, w, label2, dpr), Part(chosen, w, label2, dpr));
    QVERIFY(Colours(Part(at_load, w, label2, dpr)) > 2);  // text is drawn
    // The hidden bar leaves its place empty.
    QCOMPARE(Colours(Part(at_load, w, bar, dpr)), 1);

    QTest::mouseClick(import_button, Qt::LeftButton);
    QVERIFY(!at_end.isNull());
    Keep(at_end, "window-import-done.png");
    QVERIFY(Colours(Part(at_end, w, bar, dpr)) > 1);  // the bar shows its progress
    QVERIFY(!message.isNull());
    Keep(message, "message-completed.png");
    QCOMPARE(message_title, QStringLiteral("Produkte Import"));
    QCOMPARE(w.exitStatus(), 0);
  }
};

PI_WINDOW_TEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
