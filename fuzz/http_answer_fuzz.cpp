// An HTTP answer, arbitrary bytes served on a loopback port, as the sharing
// sender and the alarm webhook read it: libcurl's reading of the status line,
// the Retry-After header and the body, then the classification, the pause before
// the next try and the text shown for it. The answer must come back within its
// bounds, and what is shown must be one line that says something.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "alarms/alarm_webhook.h"
#include "fuzz_support.h"
#include "outputs/share/http_post.h"
#include "outputs/share/share_sender.h"

namespace {

using zevrin::fuzz::Require;

constexpr std::string_view kForm = "a=1";
constexpr int kRequestWaitMs = 2000;
constexpr std::string_view kPlainAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
// libcurl keeps no more of a body than this (http_post.cpp).
constexpr std::size_t kBodyMax = 400;
constexpr std::chrono::seconds kRetryAfterMax{24 * 60 * 60};

// Answers every connection on 127.0.0.1 with the bytes of the current input,
// after reading its request, then closes it.
class AnswerServer {
 public:
  AnswerServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    std::thread([this] { Serve(); }).detach();  // lives as long as the process
  }
  const std::string& url() const { return url_; }
  void SetAnswer(std::string_view answer) {
    const std::lock_guard lock(mutex_);
    answer_ = answer;
  }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ReadRequest(fd);
      std::string answer;
      {
        const std::lock_guard lock(mutex_);
        answer = answer_;
      }
      for (std::size_t sent = 0; sent < answer.size();) {
        const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
  }
  // Up to the end of the headers and the form after them.
  static void ReadRequest(int fd) {
    std::string request;
    char buffer[4096];
    for (;;) {
      const std::size_t end = request.find("\r\n\r\n");
      if (end != std::string::npos && request.size() >= end + 4 + kForm.size()) return;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, kRequestWaitMs) <= 0) return;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int listener_ = -1;
  std::string url_;
  std::mutex mutex_;
  std::string answer_;
};

void CheckPauses(const zevrin::RetryTimings& timings, std::chrono::seconds asked) {
  for (int failures = 1; failures <= 40; ++failures) {
    const std::chrono::milliseconds pause = zevrin::RetryPause(failures, timings, asked);
    Require(pause >= std::min(timings.first, timings.longest) && pause <= timings.longest,
            "a pause within its bounds");
    Require(pause >= std::min<std::chrono::milliseconds>(asked, timings.longest),
            "a pause honours Retry-After up to the longest");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Only the server of this process is ever asked, never through a proxy.
  ::setenv(zevrin::kLoopbackOnlyVariable, "1", 1);
  for (const char* proxy :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::unsetenv(proxy);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static AnswerServer server;
  // A poster serves many requests: what one answer leaves behind must not spoil
  // the next. An input whose last byte is odd comes after a plain answer, so
  // that a fault needing one is found again from the input alone.
  static zevrin::CurlPoster poster(std::chrono::seconds(5));
  if (size > 0 && (data[size - 1] & 1) != 0) {
    server.SetAnswer(kPlainAnswer);
    poster.Post(server.url(), kForm, "token");
  }
  server.SetAnswer(zevrin::fuzz::AsText(data, size));
  const zevrin::HttpAnswer answer = poster.Post(server.url(), kForm, "token");
  Require((answer.status == 0) != answer.problem.empty(), "either an answer or why there is none");
  Require(answer.body.size() <= kBodyMax, "a body kept to its bound");
  Require(answer.retry_after.count() >= 0 && answer.retry_after <= kRetryAfterMax,
          "Retry-After within its bounds");
  const std::string text = zevrin::AnswerText(answer);
  Require(!text.empty(), "an answer is told with a text");
  Require(text.find_first_of("\r\n") == std::string::npos, "the text is one line", text);
  const zevrin::ShareOutcome outcome = zevrin::ClassifyAnswer(answer);
  Require(outcome != zevrin::ShareOutcome::kSent || answer.status / 100 == 2,
          "only a 2xx answer counts as taken");
  CheckPauses(zevrin::RetryTimings{}, answer.retry_after);
  CheckPauses(zevrin::WebhookTimings{}.pauses, answer.retry_after);
  return 0;
}
