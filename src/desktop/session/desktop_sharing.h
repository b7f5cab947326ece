#pragma once
// Sharing in the desktop program: the settings file beside zevrinkiss.ini, the
// queueing of frames in the archive, the sender thread and its state on the main
// window. Lives as long as the program; the windows come and go.

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/share_dialog.h"
#include "outputs/share/frame_sharer.h"
#include "outputs/share/share_sender.h"

namespace zevrin {

class MainWindow;

class DesktopSharing final : public QObject {
  Q_OBJECT

 public:
  /// Reads the sharing settings that lie beside `settings_file`.
  explicit DesktopSharing(const std::string& settings_file, RetryTimings timings = {},
                          QObject* parent = nullptr);
  ~DesktopSharing() override;

  /// Add to the archive writer as extension (before it opens) and as frame sink
  /// after it.
  FrameSharer& sharer() { return sharer_; }
  /// The archive has been opened at `path`: the sender works on its queue from now
  /// on. Another path replaces the sender.
  void ArchiveOpened(const std::string& path);
  /// The window that shows the state; may be null.
  void SetWindow(MainWindow* window);
  /// "Share Telemetry...": opens the dialog (or raises the open one).
  void OpenDialog(QWidget* parent);
  ShareDialog* dialog() const { return dialog_; }

  const ShareSettings& settings() const { return settings_; }
  /// The state of another feed (InfluxDB), shown after the sharing's on its line
  /// and in its tooltip; empty for none.
  void SetFeedStatus(const std::string& line, const std::string& details);
  const std::string& settings_path() const { return settings_path_; }

 private:
  void Apply(const ShareSettings& settings);
  void Show(const ShareStatus& status);

  std::string settings_path_;
  RetryTimings timings_;
  ShareSettings settings_;
  std::string read_problem_;
  std::vector<std::string> left_out_;  // what the reader left out of the file
  std::string archive_path_;
  FrameSharer sharer_;
  std::unique_ptr<ShareSender> sender_;
  std::string feed_line_;
  std::string feed_details_;
  ShareStatus last_status_;
  QPointer<MainWindow> window_;
  QPointer<ShareDialog> dialog_;
};

}  // namespace zevrin
