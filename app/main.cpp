// zevrinkiss: the ground-station telemetry decoder. It takes no command-line
// options; its configuration is the settings file alone.

#include <QApplication>

#include "platform/time_of_day.h"
#include "ui/about_window.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zevrinkiss"));

  // Program-wide state: it outlives every main window.
  zevrin::SystemClock clock;
  zevrin::ProgramState program(clock);

  zevrin::MainWindow window(program);

  // Station start-up attaches here: settings file, window title, clock
  // synchronisation, serial port (its receive notifications go to
  // window.pipeline().path().OnComm), log files, the once-a-second tick and the
  // menu, button and terminal signals.

  QObject::connect(&window, &zevrin::MainWindow::ExitRequested, &app, [&] {
    window.close();
    program.status_windows.CloseAll();
    if (zevrin::AboutWindow* about = zevrin::CurrentAboutWindow()) about->close();
    QApplication::quit();
  });

  window.show();
  return QApplication::exec();
}
