#pragma once
// "Network Feeds...": the feeds that pass the station's frames on over the
// network, one group box each: the MQTT broker the housekeeping records and
// frames are published to, the KISS server other programs connect to, and the
// InfluxDB database the housekeeping records are written to. "OK"
// writes the feeds settings file and reports the new settings; settings that
// cannot work, or a file that cannot be written, are named and the dialog stays
// open.

#include <QDialog>
#include <string>
#include <vector>

#include "config/feed_settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

namespace zevrin {

class InfluxBox;

class FeedsDialog final : public QDialog {
  Q_OBJECT

 public:
  /// Non-modal; deletes itself when closed. `station` names the MQTT topics;
  /// `problems` are what the reader of the settings file left out, shown above
  /// the groups, as "OK" writes the settings without it.
  FeedsDialog(const FeedSettings& settings, std::string path, std::string station,
              QWidget* parent = nullptr, const std::vector<std::string>& problems = {});

  /// The settings as the fields stand; what the dialog does not show (the keys
  /// of feeds this version does not know) is kept as it came.
  FeedSettings Chosen() const;
  /// Why the settings as the fields stand cannot work, or nullopt.
  std::optional<std::string> Problem() const;

 Q_SIGNALS:
  /// The file has been written; the settings are in force from now on.
  void Saved(const zevrin::FeedSettings& settings);

 private:
  QGroupBox* BuildMqttGroup(const MqttSettings& mqtt);
  QGroupBox* BuildKissServerGroup(const KissServerSettings& kiss);
  void Accept();

  FeedSettings settings_;
  std::string path_;
  std::string station_;
  /// One group box per feed, in this order.
  QVBoxLayout* groups_ = nullptr;
  QGroupBox* mqtt_ = nullptr;
  QLineEdit* mqtt_host_ = nullptr;
  QSpinBox* mqtt_port_ = nullptr;
  QLineEdit* mqtt_user_ = nullptr;
  QLineEdit* mqtt_password_ = nullptr;
  QCheckBox* mqtt_tls_ = nullptr;
  QLineEdit* mqtt_ca_file_ = nullptr;
  QGroupBox* kiss_ = nullptr;
  QLineEdit* kiss_address_ = nullptr;
  InfluxBox* influx_ = nullptr;
  QLabel* problem_ = nullptr;
};

}  // namespace zevrin
