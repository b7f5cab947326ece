#pragma once
// "Share Telemetry...": the sharing settings (on or off, callsign, position, NORAD
// number, servers with their API tokens). The line under the fields says why
// nothing would be shared, as the fields stand. "OK" writes the settings file and
// reports the new settings; a file that cannot be written is named with the reason
// and the dialog stays open.

#include <QDialog>
#include <string>
#include <vector>

#include "outputs/share/share_settings.h"

class QCheckBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace zevrin {

class ShareDialog final : public QDialog {
  Q_OBJECT

 public:
  /// Non-modal; deletes itself when closed. `left_out` names what the reader of
  /// the settings file left out (too long, too many servers): shown above the
  /// fields, as "OK" writes the settings without it.
  ShareDialog(const ShareSettings& settings, std::string path, QWidget* parent = nullptr,
              const std::vector<std::string>& left_out = {});

  /// The settings as the fields stand.
  ShareSettings Chosen() const;

 Q_SIGNALS:
  /// The file has been written; the settings are in force from now on.
  void Saved(const zevrin::ShareSettings& settings);

 private:
  // Callsign, position and NORAD number, each under its caption.
  QFormLayout* BuildStationForm(const ShareStation& station);
  QTableWidget* BuildServerTable(const std::vector<ShareServer>& servers);
  // "Add SatNOGS DB", "Add server" and "Remove" below the table.
  QHBoxLayout* BuildServerButtons();
  void AddServer(const QString& url, const QString& token);
  void UpdateReason();
  void Accept();

  std::string path_;
  QCheckBox* enabled_ = nullptr;
  QLineEdit* callsign_ = nullptr;
  QLineEdit* latitude_ = nullptr;
  QLineEdit* longitude_ = nullptr;
  QLineEdit* norad_ = nullptr;
  QTableWidget* servers_ = nullptr;
  QLabel* reason_ = nullptr;
};

}  // namespace zevrin
