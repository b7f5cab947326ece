// Plays a recorded KISS stream into a serial device (typically one end of a
// pseudo-terminal pair) at the pace of a serial line, as a TNC would deliver it.
//   zevrinkiss-play [--baud N] [--loop] FILE DEVICE
// --baud 0 writes as fast as the device takes the bytes.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/version.h"

namespace {

constexpr char kUsage[] =
    "usage: zevrinkiss-play [--baud N] [--loop] FILE DEVICE\n"
    "\n"
    "Plays the KISS stream in FILE into the serial DEVICE at the pace of a serial\n"
    "line, as a TNC would deliver it.\n"
    "\n"
    "  --baud N   line speed in baud (default 9600); 0 writes as fast as possible\n"
    "  --loop     start again at the end of the file, until interrupted\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "zevrinkiss-play: %s\n", message.c_str());
  return 2;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long baud = 9600;
  bool loop = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--baud" && i + 1 < argc) {
      baud = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--loop") {
      loop = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(zevrin::VersionText("zevrinkiss-play").c_str(), stdout);
      return 0;
    } else if (arg.rfind("--", 0) == 0) {
      return Fail("unknown option '" + arg + "'");
    } else {
      args.push_back(arg);
    }
  }
  if (args.size() != 2 || baud < 0)
    return Fail("usage: zevrinkiss-play [--baud N] [--loop] FILE DEVICE");

  std::ifstream in(args[0], std::ios::binary);
  if (!in) return Fail("cannot read " + args[0] + ": " + std::strerror(errno));
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());

  const int fd = ::open(args[1].c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open " + args[1] + ": " + std::strerror(errno));
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }

  // Ten bits a byte on the line: start bit, eight data bits, stop bit.
  const std::size_t chunk =
      baud > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(baud) / 100) : 4096;
  const auto per_chunk =
      baud > 0 ? std::chrono::microseconds(chunk * 10 * 1000000 / static_cast<std::size_t>(baud))
               : std::chrono::microseconds(0);
  do {
    auto next = std::chrono::steady_clock::now();
    for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
      const std::size_t n = std::min(chunk, data.size() - pos);
      if (!WriteAll(fd, data.data() + pos, n)) {
        ::close(fd);
        return Fail("cannot write " + args[1] + ": " + std::strerror(errno));
      }
      if (baud > 0) {
        next += per_chunk;
        std::this_thread::sleep_until(next);
      }
    }
  } while (loop);
  ::close(fd);
  return 0;
}
