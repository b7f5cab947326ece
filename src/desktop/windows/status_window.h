#pragma once
// The six status-byte windows: each explains the bits of one status field in
// words and reads that field back from the display-field store once a second.

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <vector>

#include "telemetry/display_fields.h"
#include "views/status_windows.h"

namespace zevrin {

/// Period of the status windows' tick.
inline constexpr int kStatusTickMs = 1000;

/// One status window. It reads its field (and field 67) through a pointer to the
/// store that its owner may re-point; with no store it shows an empty digit field.
class StatusWindowWidget final : public QWidget {
  Q_OBJECT

 public:
  StatusWindowWidget(StatusWindow kind, const DisplayFields* fields, QWidget* parent = nullptr);

  StatusWindow kind() const { return kind_; }

  /// One tick: reads the field and rewrites the digit field and the lines.
  void Tick();

  QString DigitText() const { return digits_->text(); }
  QString TextBuilder(int line) const;
  int LineCount() const { return static_cast<int>(lines_.size()); }

 private:
  // Sizes the window to its texts and places the widgets in it.
  void Place(QLabel& title, QLabel& picture, const QFont& line_font);
  void Show(const StatusView& view);

  StatusWindow kind_;
  const DisplayFields* fields_;
  StatusView view_;
  QLineEdit* digits_;
  std::vector<QLabel*> lines_;
  QTimer timer_;
};

/// The open status windows, at most one of each kind. It lives as long as the
/// program, so open windows survive a restart of the main window.
class StatusWindows final : public QObject {
  Q_OBJECT

 public:
  explicit StatusWindows(const DisplayFields* fields, QObject* parent = nullptr);
  ~StatusWindows() override;

  /// Opens the window of `kind` with its resting captions, or raises it when it
  /// is already open.
  StatusWindowWidget* Open(StatusWindow kind);

  /// The open window of `kind`, or null.
  StatusWindowWidget* Window(StatusWindow kind) const;

  /// Closes every open window.
  void CloseAll();

 private:
  const DisplayFields* fields_;
  std::array<QPointer<StatusWindowWidget>, kStatusWindowCount> windows_;
};

}  // namespace zevrin
