#include "session/desktop_influx.h"

#include <QMetaObject>
#include <QPointer>

#include "widgets/qt_text.h"

namespace zevrin {

DesktopInflux::DesktopInflux(const InfluxSettings& settings, InfluxTimings timings, QObject* parent)
    : QObject(parent), timings_(timings) {
  Apply(settings);
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
    // Called on the sender's thread: passed on on the user-interface thread.
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
        [later](const InfluxStatus&) {
          later([](DesktopInflux& me) { Q_EMIT me.StateChanged(); });
        },
        [later](const std::string& line) {
          later([line](DesktopInflux& me) { Q_EMIT me.Problem(FromUtf8(line)); });
        });
    feed_.SetSender(sender_.get());
    sender_->Wake();
  }
  Q_EMIT StateChanged();
}

void DesktopInflux::AddState(FeedStates& states) const {
  if (!settings_.enabled) return;
  if (!problem_.empty()) {
    states.influx_problem = problem_;
  } else if (sender_) {
    states.influx = sender_->Status();
  } else {
    states.influx_problem = "no archive to keep the queue of points in";
  }
}

}  // namespace zevrin
