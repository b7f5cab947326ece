// Writes a generated satellite pass as a KISS byte stream.
//   zevrinkiss-make-pass [--frames N] [--seed S] [--battery-dip] OUTPUT

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "base/version.h"
#include "sample/sample_pass.h"

namespace {

constexpr char kUsage[] =
    "usage: zevrinkiss-make-pass [--frames N] [--seed S] [--battery-dip] OUTPUT\n"
    "\n"
    "Writes a generated satellite pass to OUTPUT as a KISS byte stream.\n"
    "\n"
    "  --frames N  the number of frames (default 600)\n"
    "  --seed S    the seed of the generator; the same seed gives the same pass\n"
    "  --battery-dip  the battery runs down below the powersafe and the emergency\n"
    "              thresholds in the middle of the pass and recovers\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

}  // namespace

int main(int argc, char** argv) {
  zevrin::sample::PassOptions options;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--frames" || arg == "--seed") && i + 1 < argc) {
      const long value = std::strtol(argv[++i], nullptr, 10);
      if (arg == "--frames")
        options.frames = static_cast<int>(value);
      else
        options.seed = static_cast<std::uint32_t>(value);
    } else if (arg == "--battery-dip") {
      options.battery_dip = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(zevrin::VersionText("zevrinkiss-make-pass").c_str(), stdout);
      return 0;
    } else if (output == nullptr && arg.rfind("--", 0) != 0) {
      output = argv[i];
    } else {
      std::fprintf(stderr, "zevrinkiss-make-pass: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (output == nullptr) {
    std::fprintf(stderr, "zevrinkiss-make-pass: no output file given\n");
    return 2;
  }
  const zevrin::sample::Bytes pass = zevrin::sample::MakePass(options);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(pass.data()), static_cast<std::streamsize>(pass.size()));
  if (!out) {
    std::fprintf(stderr, "zevrinkiss-make-pass: cannot write %s: %s\n", output,
                 std::strerror(errno));
    return 2;
  }
  return 0;
}
