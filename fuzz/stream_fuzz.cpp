// Feeds arbitrary bytes through the receive path, the monitor, the decoders and
// the decode tool's JSON output: once whole and once cut into notifications of
// sizes the input chooses. Every byte sequence must be accepted, every JSON line
// must be valid, and how the bytes arrive must change nothing: the same frames
// in the raw log, the same monitor text, the same decoded values.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decode_tool.h"
#include "fuzz_support.h"

namespace {

using zevrin::fuzz::Require;

// The complete frames, one after another, as the raw log would get them.
struct MemoryRawLog final : zevrin::RawLog {
  bool AppendFrame(std::span<const std::uint8_t> frame) override {
    frames.emplace_back(frame.begin(), frame.end());
    return true;
  }
  std::vector<std::vector<std::uint8_t>> frames;
};

struct Decoded {
  std::string output;
  std::vector<std::vector<std::uint8_t>> frames;
};

void CheckJsonLines(std::string_view rest) {
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    Require(end != std::string_view::npos, "every JSON object ends its line");
    Require(nlohmann::json::accept(rest.substr(0, end)), "valid JSON line", rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
}

// Decodes `bytes` in notifications of the sizes in `chunks`, taken in turn; no
// sizes: the whole at once.
Decoded Decode(std::span<const std::uint8_t> bytes, const std::vector<std::size_t>& chunks,
               zevrin::DecodeToolOptions options) {
  char* out_data = nullptr;
  std::size_t out_size = 0;
  std::FILE* out = open_memstream(&out_data, &out_size);
  if (out == nullptr) std::abort();
  const zevrin::fuzz::FixedClock clock;
  MemoryRawLog raw;
  {
    zevrin::DecodeTool tool(options, out, clock);
    tool.SetRawLog(&raw);
    std::size_t next = 0;
    for (std::size_t pos = 0; pos < bytes.size();) {
      const std::size_t chunk = chunks.empty() ? bytes.size() : chunks[next++ % chunks.size()];
      const std::size_t size = std::min(chunk, bytes.size() - pos);
      tool.Feed(bytes.subspan(pos, size));
      pos += size;
    }
  }
  std::fclose(out);
  Decoded decoded{std::string(out_data, out_size), std::move(raw.frames)};
  std::free(out_data);
  return decoded;
}

void Compare(std::span<const std::uint8_t> bytes, const std::vector<std::size_t>& chunks,
             zevrin::DecodeToolOptions options) {
  const Decoded whole = Decode(bytes, {}, options);
  const Decoded cut = Decode(bytes, chunks, options);
  if (options.format == zevrin::OutputFormat::kJson) CheckJsonLines(whole.output);
  Require(whole.frames == cut.frames, "the same raw-log frames however the bytes arrive");
  Require(whole.output == cut.output, "the same output however the bytes arrive", cut.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  // The sizes come from the end of the input, so a recorded stream as a seed is
  // read from its first byte on.
  std::vector<std::size_t> chunks(provider.ConsumeIntegralInRange<std::size_t>(1, 16));
  for (std::size_t& chunk : chunks) chunk = provider.ConsumeIntegralInRange<std::size_t>(1, 700);
  const std::vector<std::uint8_t> bytes = provider.ConsumeRemainingBytes<std::uint8_t>();
  Compare(bytes, chunks, {zevrin::OutputFormat::kJson, false});
  Compare(bytes, chunks, {zevrin::OutputFormat::kMonitor, false});
  Compare(bytes, chunks, {zevrin::OutputFormat::kMonitor, true});
  return 0;
}
