#pragma once
// The receive path, the frame analysis and the telemetry decoder of a station,
// without a window, for the benchmarks to wire and feed.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "frames/frame_analysis.h"
#include "kiss/receive_path.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin::bench {

class NullView final : public ReceiveView {
 public:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view text) override {
    benchmark::DoNotOptimize(text.data());
  }
};

struct ReceiveChain {
  /// `clock` must outlive the chain. Nothing is wired: the caller chooses the stages.
  explicit ReceiveChain(const Clock& clock)
      : path(state, clock, view), analysis(clock), telemetry(fields) {}

  /// The bytes in the chunks a generous serial notification brings.
  void Feed(const std::vector<std::uint8_t>& input) {
    constexpr std::size_t kChunk = 4096;
    for (std::size_t pos = 0; pos < input.size(); pos += kChunk) {
      const std::size_t n = std::min(kChunk, input.size() - pos);
      path.Receive(std::span<const std::uint8_t>(input.data() + pos, n));
    }
  }

  NullView view;
  ReceiveState state;
  ReceivePath path;
  FrameAnalysis analysis;
  DisplayFields fields;
  TelemetryDecoder telemetry;
};

}  // namespace zevrin::bench
