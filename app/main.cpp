// produkte-import: carries the product data of an Orbelin shop into Zentavo's database.
#include <QApplication>

#include "app/program.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return app::Run(app);
}
