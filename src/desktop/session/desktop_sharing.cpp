#include "session/desktop_sharing.h"

#include <QMetaObject>

#include "windows/main_window.h"

namespace zevrin {

DesktopSharing::DesktopSharing(const std::string& settings_file, RetryTimings timings,
                               QObject* parent)
    : QObject(parent), settings_path_(ShareSettingsPathBeside(settings_file)), timings_(timings) {
  if (std::optional<ShareSettings> read = ReadShareSettings(settings_path_, &left_out_)) {
    settings_ = std::move(*read);
  } else {
    // Unreadable settings share nothing; the status line says why.
    settings_.enabled = false;
    read_problem_ = "cannot read " + settings_path_;
  }
  sharer_.Configure(settings_);
}

DesktopSharing::~DesktopSharing() {
  // The sender's thread may be posting a status right now; it is joined first.
  sender_.reset();
}

void DesktopSharing::ArchiveOpened(const std::string& path) {
  if (sender_ && path == archive_path_) {
    sender_->Wake();  // frames committed as the last window closed its archive
    return;
  }
  archive_path_ = path;
  sharer_.SetSender(nullptr);
  sender_.reset();
  // Called on the sender's thread: the state is shown on the user-interface thread.
  QPointer<DesktopSharing> self(this);
  sender_ = std::make_unique<ShareSender>(path, timings_, [self](const ShareStatus& status) {
    if (self.isNull()) return;
    QMetaObject::invokeMethod(
        self.data(),
        [self, status] {
          if (!self.isNull()) self->Show(status);
        },
        Qt::QueuedConnection);
  });
  sender_->Configure(settings_);
  sharer_.SetSender(sender_.get());
}

void DesktopSharing::SetWindow(MainWindow* window) {
  window_ = window;
  ShareStatus status;
  if (sender_) {
    status = sender_->Status();
  } else {
    status.off_reason = SharingOffReason(settings_);
    if (!status.off_reason) status.queue_problem = "no archive to keep the queue in";
  }
  Show(status);
}

void DesktopSharing::OpenDialog(QWidget* parent) {
  if (dialog_) {
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  dialog_ = new ShareDialog(settings_, settings_path_, parent, left_out_);
  connect(dialog_, &ShareDialog::Saved, this, &DesktopSharing::Apply);
  dialog_->show();
}

void DesktopSharing::Apply(const ShareSettings& settings) {
  settings_ = settings;
  read_problem_.clear();
  left_out_.clear();  // the file now holds what the dialog showed
  sharer_.Configure(settings_);
  if (sender_) sender_->Configure(settings_);
  SetWindow(window_);
}

void DesktopSharing::SetFeedStatus(const std::string& line, const std::string& details) {
  feed_line_ = line;
  feed_details_ = details;
  Show(last_status_);
}

void DesktopSharing::Show(const ShareStatus& status) {
  last_status_ = status;
  if (window_.isNull()) return;
  ShareStatus shown = status;
  if (!read_problem_.empty()) shown.off_reason = read_problem_;
  std::string line = ShareStatusLine(shown);
  std::string details = ShareStatusDetails(shown);
  if (!feed_line_.empty()) {
    line += " | " + feed_line_;
    details += (details.empty() ? "" : "\n") + feed_details_;
  }
  window_->SetShareStatus(QString::fromStdString(line), QString::fromStdString(details));
}

}  // namespace zevrin
