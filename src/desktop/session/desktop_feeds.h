#pragma once
// The network feeds in the desktop program: the settings file beside
// zevrinkiss.ini, the KISS server and the MQTT publisher behind the live frames,
// the InfluxDB feed on the station's archive, and their state on the main
// window. Lives as long as the program: programs connected to the KISS server
// stay connected while the windows come and go.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/feed_settings.h"
#include "dialogs/feeds_dialog.h"
#include "outputs/frame_recorder.h"
#include "outputs/kiss_server/kiss_server.h"
#include "outputs/mqtt/mqtt_publisher.h"
#include "session/desktop_influx.h"

namespace zevrin {

class MainWindow;

class DesktopFeeds final : public QObject, private KissServerListener, private MqttListener {
  Q_OBJECT

 public:
  /// Reads the feeds settings that lie beside `settings_file`.
  explicit DesktopFeeds(const std::string& settings_file, QObject* parent = nullptr);
  ~DesktopFeeds() override;

  /// The live frames come through `recorder` from now on, received by `station`
  /// (the MQTT topics' label); the feeds that are on start or go on.
  void Attach(FrameRecorder& recorder, const std::string& station);
  /// The recorder goes: the feeds keep running without frames.
  void Detach();
  /// The window that shows the state; may be null.
  void SetWindow(MainWindow* window);
  /// "Network Feeds...": opens the dialog (or raises the open one).
  void OpenDialog(QWidget* parent);
  FeedsDialog* dialog() const { return dialog_; }

  const FeedSettings& settings() const { return settings_; }
  const std::string& settings_path() const { return settings_path_; }
  /// The running feeds; null when off or not started.
  KissServer* kiss_server() const { return server_.get(); }
  MqttPublisher* publisher() const { return publisher_.get(); }
  /// The InfluxDB feed, on or off: the station's archive queues its points.
  DesktopInflux& influx() { return *influx_; }

 Q_SIGNALS:
  /// Something a feed tells once: a problem, its end, a client that comes.
  void Notice(const QString& text);

 private:
  void Apply(const FeedSettings& settings);
  // Starts, keeps or ends each feed as the settings and the station say.
  void StartFeeds();
  void StartKissServer();
  void StartMqtt();
  void Show();
  void KissServerMessage(std::string_view text) override;
  void MqttMessage(std::string_view text) override;
  // Passes a text told on a feed's thread to the user-interface thread.
  void Post(std::string_view text);

  std::string settings_path_;
  FeedSettings settings_;
  std::vector<std::string> problems_;  // of reading the file
  std::string station_;
  FrameRecorder* recorder_ = nullptr;
  std::unique_ptr<KissServer> server_;
  std::string kiss_problem_;
  std::unique_ptr<MqttPublisher> publisher_;
  MqttSettings publisher_settings_;  // what the running publisher was started with
  std::unique_ptr<DesktopInflux> influx_;
  QPointer<MainWindow> window_;
  QPointer<FeedsDialog> dialog_;
  QTimer refresh_;
};

}  // namespace zevrin
