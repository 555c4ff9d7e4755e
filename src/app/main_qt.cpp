#include <QApplication>

#include "app/actions.h"
#include "app/main_window_qt.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  return sharelink::app::run_window_program(sharelink::app::platform_services());
}
