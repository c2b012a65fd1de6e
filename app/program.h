// The program's start: German texts for Qt's own dialogs, the window, its load step, the event
// loop and the exit status.
#pragma once

#include <functional>

class QApplication;
class QCoreApplication;

namespace app {

class frmProdukteImport;

// Loads Qt's German translations (qtbase_de from Qt's translations folder) into the
// application, so the standard dialogs and buttons speak German. False when they are missing.
bool InstallGermanTranslations(QCoreApplication& app);

// Runs the window's load step and shows the window unless the load step ended the program.
// Returns whether the window was shown.
bool LoadAndShow(frmProdukteImport& window);

// The whole program: the window, its load step and the event loop. Returns the exit status.
// `prepare` sees the window before its load step (the tests answer its dialogs through it).
int Run(QApplication& app, const std::function<void(frmProdukteImport&)>& prepare = {});

}  // namespace app
