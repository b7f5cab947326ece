#include "station/program.h"

namespace zevrin {

FramePipeline::FramePipeline(ProgramState& program, ReceiveView& view, MonitorSink* monitor)
    : program_(program), monitor_(monitor), path_(program.station.receive, program.clock, view) {
  FrameAnalysis& analysis = program.station.analysis;
  path_.SetFrameHandler(&analysis);
  analysis.SetMonitor(monitor);
  analysis.SetSatelliteDecoder(&program.decoder);
}

// The analysis outlives the window that is its monitor; a newer window that has
// already taken over keeps its place.
FramePipeline::~FramePipeline() {
  FrameAnalysis& analysis = program_.station.analysis;
  if (analysis.monitor() == monitor_) analysis.SetMonitor(nullptr);
}

}  // namespace zevrin
