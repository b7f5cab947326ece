#include "session/desktop_feeds.h"

#include <QMetaObject>

#include "views/feed_status.h"
#include "widgets/qt_text.h"
#include "windows/main_window.h"

namespace zevrin {

namespace {

// The counts on the status bar follow the feeds' threads this often.
constexpr int kRefreshMs = 1000;
// A publisher replaced by new settings gets this long to hand over what waits.
constexpr auto kReplacedPublisherWait = std::chrono::milliseconds(500);

}  // namespace

DesktopFeeds::DesktopFeeds(const std::string& settings_file, QObject* parent)
    : QObject(parent), settings_path_(FeedSettingsPathBeside(settings_file)) {
  if (std::optional<FeedSettings> read = ReadFeedSettings(settings_path_, problems_)) {
    settings_ = std::move(*read);
  } else {
    // Unreadable settings start no feed; the dialog says why.
    problems_.push_back("cannot read " + settings_path_);
  }
  influx_ = std::make_unique<DesktopInflux>(settings_.influx);
  connect(influx_.get(), &DesktopInflux::Problem, this, &DesktopFeeds::Notice);
  connect(influx_.get(), &DesktopInflux::StateChanged, this, &DesktopFeeds::Show);
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &DesktopFeeds::Show);
}

DesktopFeeds::~DesktopFeeds() {
  Detach();
  // Their threads may be telling something right now; they are joined first.
  server_.reset();
  publisher_.reset();
  influx_.reset();
}

void DesktopFeeds::Attach(FrameRecorder& recorder, const std::string& station) {
  Detach();
  recorder_ = &recorder;
  station_ = station;
  StartFeeds();
  if (!problems_.empty()) emit Notice(FromUtf8(problems_.front()));
}

void DesktopFeeds::Detach() {
  if (recorder_ == nullptr) return;
  if (server_) recorder_->RemoveSink(server_.get());
  if (publisher_) recorder_->RemoveSink(publisher_.get());
  recorder_ = nullptr;
}

void DesktopFeeds::SetWindow(MainWindow* window) {
  window_ = window;
  Show();
}

void DesktopFeeds::OpenDialog(QWidget* parent) {
  if (dialog_) {
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  dialog_ = new FeedsDialog(settings_, settings_path_, station_, parent, problems_);
  connect(dialog_, &FeedsDialog::Saved, this, &DesktopFeeds::Apply);
  dialog_->show();
}

void DesktopFeeds::Apply(const FeedSettings& settings) {
  settings_ = settings;
  problems_.clear();  // the file now holds what the dialog showed
  // A sender keeps going through changes of the other feeds.
  if (settings_.influx != influx_->settings()) influx_->Apply(settings_.influx);
  StartFeeds();
}

void DesktopFeeds::StartFeeds() {
  StartKissServer();
  StartMqtt();
  if (server_ || publisher_) {
    refresh_.start();
  } else {
    refresh_.stop();
  }
  Show();
}

void DesktopFeeds::StartKissServer() {
  const KissServerSettings& wanted = settings_.kiss_server;
  const bool same = server_ && wanted.enabled &&
                    server_->Status().address ==
                        TcpAddressText(ParseListenAddress(wanted.address).value_or(TcpAddress{}));
  if (same) {
    if (recorder_ != nullptr) {
      recorder_->RemoveSink(server_.get());
      recorder_->AddSink(server_.get());
    }
    return;
  }
  if (server_ && recorder_ != nullptr) recorder_->RemoveSink(server_.get());
  server_.reset();
  kiss_problem_.clear();
  if (!wanted.enabled) return;
  server_ =
      std::make_unique<KissServer>(KissServerOptions{}, static_cast<KissServerListener*>(this));
  if (const std::optional<std::string> error = server_->Start(wanted.address)) {
    kiss_problem_ = *error;
    server_.reset();
    emit Notice(FromUtf8(*error));
    return;
  }
  if (recorder_ != nullptr) recorder_->AddSink(server_.get());
}

void DesktopFeeds::StartMqtt() {
  const MqttSettings& wanted = settings_.mqtt;
  if (publisher_ && wanted == publisher_settings_ && publisher_->station() == station_) {
    if (recorder_ != nullptr) {
      recorder_->RemoveSink(publisher_.get());
      recorder_->AddSink(publisher_.get());
    }
    return;
  }
  if (publisher_) {
    if (recorder_ != nullptr) recorder_->RemoveSink(publisher_.get());
    publisher_->Stop(kReplacedPublisherWait);
    publisher_.reset();
  }
  if (!wanted.enabled || recorder_ == nullptr) return;
  publisher_ = std::make_unique<MqttPublisher>(wanted, station_, static_cast<MqttListener*>(this));
  publisher_settings_ = wanted;
  if (const std::optional<std::string> error = publisher_->Start()) {
    publisher_.reset();
    emit Notice(QStringLiteral("MQTT: ") + FromUtf8(*error));
    return;
  }
  recorder_->AddSink(publisher_.get());
}

void DesktopFeeds::Show() {
  if (window_.isNull()) return;
  FeedStates states;
  if (publisher_) states.mqtt = publisher_->Status();
  if (server_) states.kiss_server = server_->Status();
  states.kiss_server_problem = kiss_problem_;
  influx_->AddState(states);
  window_->SetFeedStatus(FromUtf8(FeedStatusLine(states)), FromUtf8(FeedStatusDetails(states)));
}

void DesktopFeeds::KissServerMessage(std::string_view text) { Post(text); }
void DesktopFeeds::MqttMessage(std::string_view text) { Post(text); }

void DesktopFeeds::Post(std::string_view text) {
  QPointer<DesktopFeeds> self(this);
  const QString shown = FromUtf8(text);
  QMetaObject::invokeMethod(
      this,
      [self, shown] {
        if (self.isNull()) return;
        emit self->Notice(shown);
        self->Show();
      },
      Qt::QueuedConnection);
}

}  // namespace zevrin
