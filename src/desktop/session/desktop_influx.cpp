#include "session/desktop_influx.h"

#include <QMetaObject>
#include <QPointer>

#include "widgets/qt_text.h"

namespace zevrin {

DesktopInflux::DesktopInflux(const std::string& settings_file, InfluxTimings timings,
                             QObject* parent)
    : QObject(parent), path_(FeedsPathBeside(settings_file)), timings_(timings) {
  if (std::optional<InfluxSettings> read = ReadInfluxSettings(path_)) {
    Apply(*read);
  } else {
    problem_ = "cannot read " + path_;
  }
}

DesktopInflux::~DesktopInflux() {
  // The sender's thread may be posting a status right now; it is joined first.
  feed_.SetSender(nullptr);
  sender_.reset();
}

void DesktopInflux::Apply(const InfluxSettings& settings) {
  settings_ = settings;
  std::string error;
  const bool usable = settings_.enabled && InfluxTargetOf(settings_, error);
  problem_ = settings_.enabled && !usable ? error : "";
  // Records are queued only while they can be sent; what waits is sent by the
  // next sender.
  feed_.Enable(usable);
  StartSender();
}

void DesktopInflux::ArchiveOpened(const std::string& path) {
  if (sender_ && path == archive_path_) {
    sender_->Wake();
    return;
  }
  archive_path_ = path;
  StartSender();
}

void DesktopInflux::StartSender() {
  feed_.SetSender(nullptr);
  sender_.reset();
  std::string error;
  const std::optional<InfluxTarget> target = InfluxTargetOf(settings_, error);
  if (settings_.enabled && target && !archive_path_.empty()) {
    // Called on the sender's thread: shown on the user-interface thread.
    QPointer<DesktopInflux> self(this);
    const auto later = [self](auto work) {
      QMetaObject::invokeMethod(
          self.data(),
          [self, work] {
            if (!self.isNull()) work(*self);
          },
          Qt::QueuedConnection);
    };
    sender_ = std::make_unique<InfluxSender>(
        archive_path_, *target, timings_,
        [later](const InfluxStatus& status) {
          later([status](DesktopInflux& me) { me.Show(&status); });
        },
        [later](const std::string& line) {
          later([line](DesktopInflux& me) { Q_EMIT me.Problem(FromUtf8(line)); });
        });
    feed_.SetSender(sender_.get());
    sender_->Wake();
  }
  Show(nullptr);
}

void DesktopInflux::SetStatusSink(StatusSink sink) {
  sink_ = std::move(sink);
  Show(nullptr);
}

void DesktopInflux::Show(const InfluxStatus* status) {
  if (!sink_) return;
  if (!settings_.enabled) {
    sink_("", "");
  } else if (!problem_.empty()) {
    sink_("InfluxDB off: " + problem_, "InfluxDB feed off: " + problem_);
  } else if (status != nullptr) {
    sink_(InfluxStatusLine(*status), InfluxStatusDetails(*status));
  } else if (sender_) {
    const InfluxStatus now = sender_->Status();
    sink_(InfluxStatusLine(now), InfluxStatusDetails(now));
  } else {
    sink_("InfluxDB: waiting for the archive", "InfluxDB: no archive to keep the queue in yet");
  }
}

}  // namespace zevrin
