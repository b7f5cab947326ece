#pragma once
// The port setup dialog " Setup COM - TNC": the choice between the serial port
// (five lists for port and line settings) and KISS over TCP (host and port of a
// software TNC). "ok" writes the settings file and asks for a restart of the main
// window (a file that cannot be written, or a TCP address that is no address, is
// named with the reason in a message box, and the dialog stays); "Cancel" closes
// it without writing.

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

#include "station/station.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zevrin {

class SetupDialog final : public QDialog {
  Q_OBJECT

 public:
  /// Non-modal; deletes itself when closed. Opens with the settings in force
  /// selected; a value missing from its list is added to it and selected, so "ok"
  /// without changes keeps the settings as they are.
  explicit SetupDialog(SetupValues values, QWidget* parent = nullptr);

  /// Line 1 as "ok" would write it now; empty when KISS over TCP is chosen with a
  /// host or port that make no address.
  std::string ChosenSettingsLine() const;
  /// The TCP address entered; nullopt when host or port are no good.
  std::optional<TcpAddress> ChosenTcpAddress() const;

 Q_SIGNALS:
  /// The file has been written and the dialog closed: the main window restarts.
  /// Connect it queued when the handler destroys the dialog's parent.
  void RestartRequested();

 private:
  // The five lists, the two kinds of link and the TCP host and port.
  void MakeControls();
  // Places the controls under their captions, with "ok" and "Cancel".
  void LayOut();
  void ShowSettingsInForce();
  void Accept();  // "ok"
  void Cancel();  // "Cancel"
  void ShowProblem(const char* name, const QString& message);
  // Enables the fields of the chosen kind of link only.
  void FollowChoice();

  SetupValues values_;
  QComboBox* port_list_ = nullptr;
  QComboBox* speed_list_ = nullptr;
  QComboBox* data_list_ = nullptr;
  QComboBox* parity_list_ = nullptr;
  QComboBox* stop_list_ = nullptr;
  QRadioButton* serial_choice_ = nullptr;
  QRadioButton* tcp_choice_ = nullptr;
  QLineEdit* host_edit_ = nullptr;
  QComboBox* tcp_port_list_ = nullptr;
};

}  // namespace zevrin
