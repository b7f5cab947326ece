#include "clock/time_sync.h"

#include <algorithm>
#include <limits>

#include "base/time_of_day.h"

namespace zevrin {

namespace {
// 1990-01-01 00:00:00 UTC in seconds since 1970.
constexpr std::int64_t kUnix1990 = 631152000;
}  // namespace

std::optional<ClockRecord> ClockRecordFromSeconds(std::uint32_t seconds) {
  const std::int64_t since_1990 = static_cast<std::int64_t>(seconds) - kSeconds1900To1990;
  if (since_1990 < std::numeric_limits<std::int32_t>::min() ||
      since_1990 > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  const CivilTime t = ToCivil(kUnix1990 + since_1990);
  ClockRecord record;
  record.year = static_cast<std::uint16_t>(t.year);
  record.month = static_cast<std::uint16_t>(t.month);
  record.day = static_cast<std::uint16_t>(t.day);
  record.hour = static_cast<std::uint16_t>(t.hour);
  record.minute = static_cast<std::uint16_t>(t.minute);
  record.second = static_cast<std::uint16_t>(t.second);
  return record;
}

std::string ArrivalText(std::span<const std::uint8_t> head, std::uint64_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t listed =
      static_cast<std::size_t>(std::min<std::uint64_t>({count, head.size(), kListedArrivalBytes}));
  std::string text = "data received: ";
  for (std::size_t i = 0; i < listed; ++i) {
    text += kHex[head[i] >> 4];
    text += kHex[head[i] & 0x0F];
    text += ' ';
  }
  // A flood is shown by its first bytes and its true size, so the text stays short.
  if (count > listed) text += "...";
  text += " (" + std::to_string(count) + " bytes)";
  return text;
}

TimeSync::TimeSync(StatusSink& status, TimeSocket& socket, ClockSetter& setter, std::uint16_t port)
    : status_(status), socket_(socket), setter_(setter), port_(port) {}

void TimeSync::Begin(std::string_view host) {
  host_ = host.empty() ? std::string(kDefaultTimeServerHost) : std::string(host);
  // Leave the earlier attempt before closing its socket, so nothing the close
  // might report is taken for that attempt's events.
  state_ = State::kConnecting;
  status_.SetStatusText("opening connection to TIMESERVER [" + host_ + "]");
  reply_size_ = 0;
  if (!socket_.IsClosed()) socket_.Close();
  socket_.Connect(host_, port_);
}

void TimeSync::Connected() {
  if (state_ != State::kConnecting) return;
  state_ = State::kConnected;
  status_.SetStatusText("   winsock connection made");
}

void TimeSync::DataArrived(std::span<const std::uint8_t> head, std::uint64_t count) {
  if (state_ != State::kConnected) return;
  // Bytes past the limit are dropped; the reply is invalid by then anyway.
  const std::size_t available =
      static_cast<std::size_t>(std::min<std::uint64_t>(count, head.size()));
  const std::size_t take = std::min(available, kReplyBufferLimit - reply_size_);
  std::copy_n(head.begin(), take, reply_.begin() + reply_size_);
  reply_size_ += take;
  status_.SetStatusText(ArrivalText(head, count));
  // More than four bytes can never become a valid reply: end the attempt now, as
  // if the server had closed, instead of reading a flood for as long as it lasts.
  if (reply_size_ > kValidReplySize) Finish();
}

void TimeSync::ClosedByServer() {
  if (state_ != State::kConnected) return;
  Finish();
}

void TimeSync::Finish() {
  state_ = State::kFinished;
  status_.SetStatusText("   closing connection");
  socket_.Close();
  status_.SetStatusText("   sockets closed");
  SetClockFromReply();
}

void TimeSync::Error(int number, std::string_view description) {
  if (state_ != State::kConnecting && state_ != State::kConnected) return;
  state_ = State::kFinished;
  status_.SetStatusText("   error received: " + std::string(description));
  status_.SetStatusText("   error received: " + std::to_string(number));
  if (number > 0) {
    if (!socket_.IsClosed()) socket_.Close();
    status_.SetStatusText("sockets closed");
  }
}

void TimeSync::SetClockFromReply() {
  if (reply_size_ != kValidReplySize) {
    status_.SetStatusText("Time passed not valid. Clock not synchronised");
    return;
  }
  const std::uint32_t seconds = static_cast<std::uint32_t>(reply_[0]) << 24 |
                                static_cast<std::uint32_t>(reply_[1]) << 16 |
                                static_cast<std::uint32_t>(reply_[2]) << 8 | reply_[3];
  const std::optional<ClockRecord> record = ClockRecordFromSeconds(seconds);
  if (!record) return;
  status_.SetStatusText("   beginning system clock synchronization");
  if (setter_.SetSystemTime(*record)) {
    status_.SetStatusText("clock synchronised succesfully with NTP server " + host_);
  } else {
    status_.SetStatusText("SetSystemTime failed. Clock not synchronised");
  }
}

}  // namespace zevrin
