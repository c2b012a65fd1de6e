// produkte-import: carries the product data of an Orbelin shop into Zentavo's database. Without
// arguments it shows its window; with any it works in the terminal and needs no display.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <iostream>

#include "app/command_line.h"
#include "app/program.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    QCoreApplication app(argc, argv);
    app::InstallGermanTranslations(app);
    return app::RunCommandLine(QCoreApplication::arguments(), std::cout, std::cerr,
                               ::isatty(STDERR_FILENO) == 1);
  }
  QApplication app(argc, argv);
  return app::Run(app);
}
