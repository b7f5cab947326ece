#pragma once
// Recording stand-ins for the station's window and for log-problem listeners.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "station/station.h"

namespace zevrin::testing {

/// Keeps the notice texts at which a log or archive started failing and at which
/// it was written again; updates in between (more frames missed) are not kept.
struct CountingListener final : LogProblemListener {
  void LogNoticeChanged(const LogNotice& notice) override {
    bool& failing = failing_by_path[notice.path];
    if (failing == !notice.complete_now) return;
    failing = !notice.complete_now;
    (failing ? problems : recovered).push_back(LogNoticeText(notice));
  }
  std::vector<std::string> problems;
  std::vector<std::string> recovered;
  std::map<std::string, bool> failing_by_path;
};

/// The window and the clock synchronisation: every call in order, as "what:text";
/// log notices also as they come and counted by their changes.
struct RecordingStationView final : StationView, ClockSyncStarter {
  void SetStatusText(std::string_view t) override { Add("status", t); }
  void SetReceiveCounterText(std::string_view t) override { Add("counter", t); }
  void LogNoticeChanged(const LogNotice& notice) override {
    notices.push_back(notice);
    counted.LogNoticeChanged(notice);
    Add(notice.complete_now ? "log-ok" : "log-problem", LogNoticeText(notice));
  }
  void SetWindowTitle(std::string_view t) override { Add("title", t); }
  void SetPortLabel(std::string_view t) override { Add("port-label", t); }
  void SetLastPacketText(std::string_view t) override { last_packet = t; }
  void SetClockText(std::string_view t) override { clock = t; }
  void ShowPortOpen(bool) override {}
  void SetPortToolTip(std::string_view t) override { port_tip = t; }
  void SetTerminalText(std::string_view t) override { Add("terminal", t); }
  void ClearMonitor() override { Add("clear-monitor", ""); }
  void OpenSetupDialog() override { Add("setup-dialog", ""); }
  void EnableTncControls(bool enabled, std::string_view) override { tnc_controls = enabled; }
  void BeginClockSync(std::string_view host) override { Add("sync", host); }
  void Add(const char* what, std::string_view text) {
    events.push_back(std::string(what) + ":" + std::string(text));
  }
  std::vector<std::string> events;
  std::vector<LogNotice> notices;
  CountingListener counted;
  std::string last_packet, clock, port_tip;
  bool tnc_controls = false;
};

}  // namespace zevrin::testing
