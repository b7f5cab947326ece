#pragma once
// The live inputs of zevrinkiss-decode: a KISS-over-TCP server (--connect) or a
// serial device (--serial, --speed) read until SIGINT or SIGTERM, and the raw log
// of every complete frame (--raw-log), so an unattended station records as the
// desktop program does.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decode/decode_tool.h"
#include "input/live_source.h"
#include "outputs/logs/log_files.h"
#include "outputs/logs/stamped_raw_log.h"

namespace zevrin {

class LiveInput final : private LiveSourceEvents, private LogProblemListener {
 public:
  /// Options text for the program's usage.
  static constexpr const char* kUsage =
      "  --connect HOST:PORT  read a software TNC's KISS over TCP (localhost:8001,\n"
      "                       [::1]:8100) until SIGINT or SIGTERM, reconnecting\n"
      "                       every 3 s whenever the connection is refused or lost\n"
      "  --serial DEVICE      read a serial device (or a comN link) in raw mode\n"
      "  --speed N            the serial device's speed (default 9600)\n"
      "  --raw-log FILE       append every complete frame to FILE (.kss)\n"
      "  --kiss-timestamps    put a KISS time-stamp frame (command 9, the reception\n"
      "                       time) before each frame in the raw log\n";

  LiveInput();
  ~LiveInput() override;
  LiveInput(const LiveInput&) = delete;
  LiveInput& operator=(const LiveInput&) = delete;

  /// Takes argv[i] (and its value, moving i on) when it is one of the options
  /// above; false when it is not. A bad value leaves its reason in error().
  bool TakeOption(int argc, char** argv, int& i);
  const std::string& error() const { return error_; }

  /// True with --connect or --serial: the input is live instead of files.
  bool live() const { return !connect_.empty() || !serial_.empty(); }
  /// The live link's name: "tcp:HOST:PORT" or the serial device.
  std::string link_name() const { return connect_.empty() ? serial_ : "tcp:" + connect_; }

  /// Checks the options together, opens the raw log and the live source and
  /// attaches the raw log to `tool`, which must outlive this object. Returns the
  /// reason when one of them cannot be used.
  std::optional<std::string> Start(DecodeTool& tool);

  /// Reads the live source into `tool` until SIGINT or SIGTERM (0) or until the
  /// source fails (1); everything decoded is written out before each wait.
  int Run(DecodeTool& tool);

  /// Called about once a second while Run reads, also while no byte comes, with
  /// whether the link is up. Set before Run; none by default.
  void SetTicker(std::function<void(bool link_up)> ticker) { ticker_ = std::move(ticker); }

 private:
  void LinkMessage(std::string_view text) override;
  void StreamBroken() override;
  void LogNoticeChanged(const LogNotice& notice) override;

  std::string connect_;
  std::string serial_;
  std::optional<long> speed_;
  std::string raw_log_path_;
  std::string error_;
  SystemClock clock_;
  CheckedRawLog raw_log_{this, clock_};
  bool kiss_timestamps_ = false;  // --kiss-timestamps
  StampedRawLog stamped_raw_log_{raw_log_, clock_};
  bool raw_log_complete_ = true;  // as last told
  bool raw_log_open_ = false;     // a log that never opened is refused, not told
  std::unique_ptr<LiveSource> source_;
  DecodeTool* tool_ = nullptr;
  std::function<void(bool)> ticker_;
};

}  // namespace zevrin
