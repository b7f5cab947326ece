#pragma once
// Running a command line as a user would, and cutting what it printed into lines.

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/kiss_server.h"
#include "support/temp_dir.h"

namespace zevrin::testing {

/// Runs a shell command line; `out` gets what it printed. Returns the exit status, or
/// -1 when it did not exit.
inline int RunShell(const std::string& command, std::string& out) {
  std::FILE* p = ::popen(command.c_str(), "r");
  out.clear();
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// How often `what` occurs in `text`.
inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

/// The lines of `text`, each without its line end (LF or CR LF).
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

#ifdef ZEVRIN_DECODE_BINARY
/// How a run of the decode tool ended and what it printed.
struct ToolRun {
  int status = -1;  // the exit status, or -1 when it did not exit
  std::string out;
  std::string err;  // also left in stderr.txt of the run's folder
};

/// Runs the decode tool as a user would, after the shell commands `before` (limits,
/// say): `args` is the rest of a shell command line, whose own redirections win over
/// standard input from /dev/null and standard error to `dir`/stderr.txt. A run that
/// fails to end is stopped after 60 s.
inline ToolRun RunDecode(const TempDir& dir, const std::string& args,
                         const std::string& before = "") {
  ToolRun run;
  run.status = RunShell(before + "timeout 60 " ZEVRIN_DECODE_BINARY " </dev/null 2>" +
                            dir.Path("stderr.txt") + " " + args,
                        run.out);
  run.err = dir.Contents("stderr.txt");
  return run;
}

/// Decodes with `args` into the archive `archive` with an InfluxDB feed at a free
/// port of 127.0.0.1, where nothing listens, so that every record stays queued there.
inline ToolRun QueueInfluxPoints(const TempDir& dir, const std::string& archive,
                                 const std::string& args) {
  const std::string nowhere = "http://127.0.0.1:" + std::to_string(KissServer::FreePort());
  return RunDecode(
      dir, "--archive " + archive + " --influx " + nowhere + "/write?db=x --influx-wait 0 " + args);
}
#endif

}  // namespace zevrin::testing
