#pragma once
// The InfluxDB feed in the desktop program: its settings from the feeds file
// beside zevrinkiss.ini, the queueing of records in the archive, the sender
// thread and its state for the status bar. Lives as long as the program.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "outputs/influx/influx_feed.h"
#include "outputs/influx/influx_sender.h"

namespace zevrin {

class DesktopInflux final : public QObject {
  Q_OBJECT

 public:
  /// Told on the user-interface thread: the status line and its details; both
  /// empty while no feed is set.
  using StatusSink = std::function<void(const std::string& line, const std::string& details)>;

  /// Reads the feed's settings from the feeds file beside `settings_file`.
  explicit DesktopInflux(const std::string& settings_file, InfluxTimings timings = {},
                         QObject* parent = nullptr);
  ~DesktopInflux() override;

  /// Add to the archive writer as extension, before it opens.
  InfluxFeed& feed() { return feed_; }
  /// The archive has been opened at `path`: its queue is sent from now on.
  void ArchiveOpened(const std::string& path);
  /// Where the state goes; told at once.
  void SetStatusSink(StatusSink sink);
  /// New settings (from the feeds dialog): in force from the next record on.
  void Apply(const InfluxSettings& settings);

  const InfluxSettings& settings() const { return settings_; }

 Q_SIGNALS:
  /// A point dropped, a refused login: one line for the status bar.
  void Problem(const QString& text);

 private:
  void StartSender();
  void Show(const InfluxStatus* status);

  std::string path_;
  InfluxTimings timings_;
  InfluxSettings settings_;
  std::string problem_;  // the settings cannot be used, or the file read
  std::string archive_path_;
  InfluxFeed feed_;
  std::unique_ptr<InfluxSender> sender_;
  StatusSink sink_;
};

}  // namespace zevrin
