#pragma once
// Running a command line as a user would, and cutting what it printed into lines.

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace zevrin::testing
