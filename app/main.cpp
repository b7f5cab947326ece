// zevrinkiss: the ground-station telemetry decoder. It takes no command-line
// options; its configuration is the settings file alone.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

#include "platform/clock_setter.h"
#include "platform/time_of_day.h"
#include "ui/main_window.h"
#include "ui/station_window.h"

namespace {

// SIGTERM and SIGINT are passed to the event loop through a pipe, so the program
// ends with its normal shutdown (empty logs deleted, port closed).
int signal_pipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

bool InstallTerminateHandler() {
  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zevrinkiss"));
  // The program ends through its shutdown only, never because a window closed.
  QApplication::setQuitOnLastWindowClosed(false);

  // Program-wide state: it outlives every main window.
  zevrin::SystemClock clock;
  zevrin::SystemClockSetter clock_setter;
  zevrin::ProgramState program(clock);

  zevrin::StationWindowConfig config;
  config.paths.log_directory = QCoreApplication::applicationDirPath().toStdString();
  zevrin::StationWindow station(program, clock_setter, config);
  QObject::connect(&station, &zevrin::StationWindow::Ended, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);

  std::unique_ptr<QSocketNotifier> terminate;
  if (InstallTerminateHandler()) {
    terminate = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(terminate.get(), &QSocketNotifier::activated, &station, [&station] {
      char bytes[16];
      while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
      }
      station.End();
    });
  }

  station.Start();
  return QApplication::exec();
}
