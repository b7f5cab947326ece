#pragma once
// The InfluxDB feed in the desktop program: the queueing of records in the
// archive, the sender thread and its state for the status bar. Lives as long as
// the program; its settings come from the feeds settings (DesktopFeeds).

#include <QObject>
#include <memory>
#include <string>

#include "config/feed_settings.h"
#include "outputs/influx/influx_feed.h"
#include "outputs/influx/influx_sender.h"
#include "views/feed_status.h"

namespace zevrin {

class DesktopInflux final : public QObject {
  Q_OBJECT

 public:
  explicit DesktopInflux(const InfluxSettings& settings, InfluxTimings timings = {},
                         QObject* parent = nullptr);
  ~DesktopInflux() override;

  /// Add to the archive writer as extension, before it opens.
  InfluxFeed& feed() { return feed_; }
  /// The archive has been opened at `path`: its queue is sent from now on.
  void ArchiveOpened(const std::string& path);
  /// New settings (from the feeds dialog): in force from the next record on.
  void Apply(const InfluxSettings& settings);

  const InfluxSettings& settings() const { return settings_; }
  /// Puts the feed's state into `states`; nothing while the feed is off.
  void AddState(FeedStates& states) const;

 Q_SIGNALS:
  /// A point dropped, a refused login: one line for the status bar.
  void Problem(const QString& text);
  /// The state has changed (AddState tells the new one).
  void StateChanged();

 private:
  void StartSender();

  InfluxTimings timings_;
  InfluxSettings settings_;
  std::string problem_;  // why the settings cannot be used
  std::string archive_path_;
  InfluxFeed feed_;
  std::unique_ptr<InfluxSender> sender_;
};

}  // namespace zevrin
