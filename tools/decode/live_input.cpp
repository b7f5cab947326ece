#include "decode/live_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "decode/options.h"
#include "input/kiss_tcp_client.h"
#include "input/serial_device.h"
#include "input/tcp_link.h"

namespace zevrin {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// A stop signal writes a byte here; every wait of the live sources watches the
// read end, so a signal ends any wait at once and nothing is lost in between.
int stop_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

bool InstallStopHandlers() {
  if (stop_pipe[0] < 0 && ::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

bool StopRequested() {
  pollfd p{stop_pipe[0], POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// What ends a live source's wait: a stop signal, and with ticks the next second
// too. The sources wait on one descriptor, so both are watched through an epoll
// set, which is readable when either is.
class Waker {
 public:
  Waker() = default;
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  ~Waker() {
    if (timer_ >= 0) ::close(timer_);
    if (set_ >= 0) ::close(set_);
  }
  // False when the set cannot be made.
  bool StartTicks() {
    set_ = ::epoll_create1(EPOLL_CLOEXEC);
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const itimerspec second{{1, 0}, {1, 0}};
    epoll_event stop{EPOLLIN, {}};
    epoll_event tick{EPOLLIN, {}};
    return set_ >= 0 && timer_ >= 0 && ::timerfd_settime(timer_, 0, &second, nullptr) == 0 &&
           ::epoll_ctl(set_, EPOLL_CTL_ADD, stop_pipe[0], &stop) == 0 &&
           ::epoll_ctl(set_, EPOLL_CTL_ADD, timer_, &tick) == 0;
  }
  int fd() const { return set_ >= 0 ? set_ : stop_pipe[0]; }
  // The ticks that have passed are taken, so the set is quiet until the next one.
  void TakeTicks() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(timer_, &count, sizeof count);
  }

 private:
  int set_ = -1;
  int timer_ = -1;
};

void Tell(std::string_view text) {
  std::fprintf(stderr, "zevrinkiss-decode: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace

LiveInput::LiveInput() = default;
LiveInput::~LiveInput() = default;

bool LiveInput::TakeOption(int argc, char** argv, int& i) {
  if (std::string_view(argv[i]) == "--kiss-timestamps") {
    kiss_timestamps_ = true;
    return true;
  }
  constexpr std::string_view kNames[] = {"--connect", "--serial", "--speed", "--raw-log"};
  for (const std::string_view name : kNames) {
    std::optional<std::string> value = OptionValue(argc, argv, i, name, error_);
    if (!value) continue;
    if (!error_.empty()) return true;
    if (value->empty()) {
      error_ = std::string(name) + " needs a value";
    } else if (name == "--connect") {
      connect_ = *value;
    } else if (name == "--serial") {
      serial_ = *value;
    } else if (name == "--raw-log") {
      raw_log_path_ = *value;
    } else {
      char* end = nullptr;
      const long speed = std::strtol(value->c_str(), &end, 10);
      if (*end != '\0' || !TermiosSpeed(speed)) {
        error_ = "unsupported speed '" + *value + "'";
      } else {
        speed_ = speed;
      }
    }
    return true;
  }
  return false;
}

std::optional<std::string> LiveInput::Start(DecodeTool& tool) {
  tool_ = &tool;
  if (!connect_.empty() && !serial_.empty()) return "--connect and --serial exclude each other";
  if (speed_ && serial_.empty()) return "--speed needs --serial";
  if (kiss_timestamps_ && raw_log_path_.empty()) return "--kiss-timestamps needs --raw-log";
  if (!raw_log_path_.empty()) {
    if (!raw_log_.Open(raw_log_path_)) {
      return "cannot write the raw log " + raw_log_path_ + ": " + raw_log_.error();
    }
    raw_log_open_ = true;
    tool.SetRawLog(kiss_timestamps_ ? static_cast<RawLog*>(&stamped_raw_log_) : &raw_log_);
  }
  if (!connect_.empty()) {
    const std::optional<TcpAddress> address = ParseTcpAddress(connect_);
    if (!address) return "'" + connect_ + "' is no HOST:PORT (a port from 1 to 65535)";
    source_ = std::make_unique<KissTcpClient>(*address, static_cast<LiveSourceEvents&>(*this));
  } else if (!serial_.empty()) {
    auto device = std::make_unique<SerialDevice>(static_cast<LiveSourceEvents&>(*this));
    if (const std::optional<std::string> error =
            device->Open(serial_, speed_.value_or(kDefaultSerialSpeed))) {
      return "cannot open " + serial_ + ": " + *error;
    }
    source_ = std::move(device);
  }
  if (source_ && !InstallStopHandlers()) return "cannot set up the stop signals";
  return std::nullopt;
}

int LiveInput::Run(DecodeTool& tool) {
  if (!source_) return 1;
  std::vector<std::uint8_t> buffer(kReadChunk);
  Waker waker;
  if (ticker_ && !waker.StartTicks()) {
    Tell("cannot set up the ticks of the alarms");
    return 1;
  }
  int status = 0;
  for (;;) {
    tool.Flush();  // everything decoded so far is out before the wait
    const long n = source_->Read(buffer, waker.fd());
    if (n == LiveSource::kStopped && ticker_ && !StopRequested()) {
      waker.TakeTicks();
      ticker_(source_->up());
      continue;
    }
    if (n == LiveSource::kStopped) break;
    if (n == LiveSource::kFailed) {
      status = 1;
      break;
    }
    tool.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
  }
  tool.Flush();
  return status;
}

void LiveInput::LinkMessage(std::string_view text) { Tell(text); }

void LiveInput::StreamBroken() {
  if (tool_ != nullptr) tool_->AbandonFrame();
}

// Told when the raw log starts failing and when it is written again; the frames
// it misses meanwhile are not told one by one. A log that cannot be opened at all
// ends the start with its reason instead, so its notice is not told first.
void LiveInput::LogNoticeChanged(const LogNotice& notice) {
  if (!raw_log_open_ || notice.complete_now == raw_log_complete_) return;
  raw_log_complete_ = notice.complete_now;
  Tell(LogNoticeText(notice));
}

}  // namespace zevrin
