#pragma once
// A program of this project started as a child for a test, with its output in
// files, unable to set this machine's clock; stopped by signals.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/kiss_server.h"
#include "support/program_child.h"

namespace zevrin::testing {

/// True when something accepts connections at 127.0.0.1:`port`.
inline bool Accepting(std::uint16_t port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

class ToolProcess {
 public:
  ToolProcess() = default;
  ~ToolProcess() { Stop(SIGKILL); }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  /// Starts `args` (the program first) with standard output to `out` and standard
  /// error to `err`, after `in_child` (when given) has prepared the child; false when
  /// it could not be forked.
  bool Start(std::vector<std::string> args, const std::string& out, const std::string& err,
             const std::function<bool()>& in_child = {}) {
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::dup2(in, 0) < 0)
        ::_exit(126);
      if ((in_child && !in_child()) || !DropClockRights()) ::_exit(125);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return true;
  }

  pid_t pid() const { return pid_; }

  /// Sends `signal` and waits up to `timeout` for the end: the wait status, or -1.
  int Stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = -1;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      status = -1;
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace zevrin::testing
