// zevrinkiss: the ground-station telemetry decoder. Besides --help and --version it
// takes no command-line options; its configuration is the settings file alone.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "alarms/alarm_rules.h"
#include "base/clock_setter.h"
#include "base/time_of_day.h"
#include "base/version.h"
#include "config/places.h"
#include "session/station_window.h"
#include "windows/main_window.h"

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

constexpr char kUsage[] =
    "usage: zevrinkiss [--help | --version]\n"
    "\n"
    "The desktop program of the TARVELO ground station: reads KISS frames from the\n"
    "TNC, logs them, adds them to the archive and shows the satellite's\n"
    "housekeeping values and, in the history window, their trends.\n"
    "It takes no other options. Its settings are zevrinkiss.ini in the working\n"
    "directory when there is one, otherwise ~/.config/zevrinkiss/zevrinkiss.ini.\n"
    "Line 1 of the settings names the TNC: a serial port (01,9600,N,8,1) or a\n"
    "software TNC's KISS over TCP (tcp:localhost:8001).\n"
    "The logs and the archive (LABEL_archive.sqlite) of an installed program go to\n"
    "~/.local/share/zevrinkiss/; those of one in a writable folder of its own go\n"
    "beside it. See zevrinkiss(1).\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

// Answers --help and --version, before any window system is needed. Anything else
// is refused rather than ignored, so a mistyped option is noticed. Returns the exit
// status, or -1 to go on.
int AnswerCommandLine(int argc, char** argv) {
  if (argc < 2) return -1;
  const char* arg = argv[1];
  if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(arg, "--version") == 0) {
    std::fputs(zevrin::VersionText("zevrinkiss").c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") != 0 && std::strcmp(argv[i], "-h") != 0 &&
        std::strcmp(argv[i], "--version") != 0) {
      std::fprintf(stderr, "zevrinkiss: unknown option '%s': it takes no options (see --help)\n",
                   argv[i]);
      return 2;
    }
  }
  std::fputs("zevrinkiss: --help and --version go alone\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = AnswerCommandLine(argc, argv); status >= 0) return status;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zevrinkiss"));
  // The program ends through its shutdown only, never because a window closed.
  QApplication::setQuitOnLastWindowClosed(false);

  // Program-wide state: it outlives every main window.
  zevrin::SystemClock clock;
  zevrin::SystemClockSetter clock_setter;
  zevrin::DesktopProgram program(clock);

  // An installed program never writes beside itself and usually starts in the home
  // directory: then the logs and the settings go to the user's own folders.
  const zevrin::PlaceEnvironment env = zevrin::PlaceEnvironment::FromProcess();
  zevrin::SettingsPlace settings = zevrin::FindSettings(".", env);
  zevrin::StationWindowConfig config;
  const std::string program_directory = QCoreApplication::applicationDirPath().toStdString();
  const bool installed = zevrin::IsInstalledProgram(
      program_directory, {ZEVRIN_INSTALL_BIN_DIR, ZEVRIN_INSTALLED_FILE});
  config.paths.log_directory = zevrin::LogDirectory(program_directory, installed, env);
  config.paths.settings_file = std::move(settings.settings_file);
  // Found like the settings file; without one the default rules apply.
  config.alarm_rules_file = zevrin::FindAlarmRules(".", env);
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
