#include "app/program.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/frm_produkte_import.h"

namespace app {

bool InstallGermanTranslations(QCoreApplication& app) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_de"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

bool LoadAndShow(frmProdukteImport& window) {
  if (!window.Form_Load()) return false;
  window.show();
  return true;
}

int Run(QApplication& app, const std::function<void(frmProdukteImport&)>& prepare) {
  QApplication::setApplicationName(QStringLiteral("Produkte Import"));
  QGuiApplication::setDesktopFileName(QStringLiteral("produkte-import"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/produkte-import.png")));
  // The window alone decides when the program ends, and with which status.
  QApplication::setQuitOnLastWindowClosed(false);
  InstallGermanTranslations(app);

  frmProdukteImport window;
  QObject::connect(&window, &frmProdukteImport::programEnded, &app, &QCoreApplication::exit);
  if (prepare) prepare(window);
  if (!LoadAndShow(window)) return window.exitStatus();
  const int status = QApplication::exec();
  return window.ended() ? window.exitStatus() : status;
}

}  // namespace app
