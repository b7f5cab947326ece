// Feeds arbitrary bytes through the receive path, the monitor, the decoders and
// the decode tool's JSON output, split into notifications of arbitrary sizes.
// Every byte sequence must be accepted, and every JSON line must be valid.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <span>
#include <string_view>

#include "decode/decode_tool.h"

namespace {

class ZeroClock final : public zevrin::Clock {
 public:
  zevrin::UtcInstant Now() const override { return {1245506709, 437}; }
};

void CheckJsonLines(const char* data, std::size_t size) {
  std::string_view rest(data, size);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) std::abort();  // every object ends its line
    if (!nlohmann::json::accept(rest.substr(0, end))) {
      std::fprintf(stderr, "invalid JSON line: %.*s\n", static_cast<int>(end), rest.data());
      std::abort();
    }
    rest.remove_prefix(end + 1);
  }
}

void Run(const std::uint8_t* data, std::size_t size, zevrin::DecodeToolOptions options) {
  char* out_data = nullptr;
  std::size_t out_size = 0;
  std::FILE* out = open_memstream(&out_data, &out_size);
  if (out == nullptr) return;
  const ZeroClock clock;
  {
    zevrin::DecodeTool tool(options, out, clock);
    // The first byte sets the notification size, so splits vary with the input.
    const std::size_t chunk = size > 0 ? 1 + data[0] % 97 : 1;
    for (std::size_t pos = 0; pos < size; pos += chunk) {
      tool.Feed(std::span<const std::uint8_t>(data + pos, std::min(chunk, size - pos)));
    }
  }
  std::fclose(out);
  if (options.format == zevrin::OutputFormat::kJson) CheckJsonLines(out_data, out_size);
  std::free(out_data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Run(data, size, {zevrin::OutputFormat::kJson, false});
  Run(data, size, {zevrin::OutputFormat::kMonitor, false});
  Run(data, size, {zevrin::OutputFormat::kMonitor, true});
  return 0;
}
