#pragma once
// The InfluxDB feed's part of the feeds settings: a group box to place in the
// dialog that edits the feeds file.

#include <QGroupBox>

#include "outputs/influx/influx_settings.h"

class QLabel;
class QLineEdit;

namespace zevrin {

class InfluxBox final : public QGroupBox {
  Q_OBJECT

 public:
  explicit InfluxBox(const InfluxSettings& settings, QWidget* parent = nullptr);

  /// The settings as the fields stand.
  InfluxSettings Chosen() const;
  /// Why the feed cannot send with these settings; empty when it can or is off.
  QString Problem() const;

 private:
  void UpdateProblem();

  QLineEdit* url_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* token_ = nullptr;
  QLabel* problem_ = nullptr;
};

}  // namespace zevrin
