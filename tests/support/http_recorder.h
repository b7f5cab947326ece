#pragma once
// A small web server on 127.0.0.1 for tests: it records every request it receives
// and answers each as the test's script says. It can be taken down (connections are
// refused) and brought up again on the same port.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/kiss_server.h"

namespace zevrin::testing {

struct HttpRequest {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  int answered = 0;  // the status of the answer it got
};

struct ScriptedAnswer {
  int status = 201;
  std::string body;
  bool silent = false;       // answer nothing and hold the connection until it is closed
  std::string headers = {};  // further header lines of the answer, each ending in "\r\n"
  std::string raw = {};      // when set, the whole answer instead of the above
};

class HttpRecorder {
 public:
  HttpRecorder() { Up(); }
  ~HttpRecorder() { Down(); }
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  std::uint16_t port() const { return port_; }
  std::string url(const std::string& path = "/api/telemetry/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  /// Answers to give, in order; after them every request gets `fallback`.
  void Script(std::vector<ScriptedAnswer> answers, ScriptedAnswer fallback = {}) {
    Respond([script = std::deque(answers.begin(), answers.end()), fallback](auto&) mutable {
      const ScriptedAnswer next = script.empty() ? fallback : script.front();
      if (!script.empty()) script.pop_front();
      return next;
    });
  }

  /// Answers every request from now on as `respond` says.
  void Respond(std::function<ScriptedAnswer(const HttpRequest&)> respond) {
    std::lock_guard lock(mutex_);
    respond_ = std::move(respond);
  }

  /// Listens again (on the same port once it has had one).
  void Up() {
    if (listener_ >= 0 || (listener_ = ListenLoopback(port_)) < 0) return;
    thread_ = std::thread([this] {
      for (int client; (client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        Handle(client);
        ::close(client);
      }
    });
  }

  /// Stops listening: connections are refused until Up().
  void Down() {
    if (listener_ < 0) return;
    ::shutdown(listener_, SHUT_RDWR);  // ends the accept
    thread_.join();
    ::close(std::exchange(listener_, -1));
  }

  std::vector<HttpRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t count() const { return requests().size(); }
  /// Waits until at least `n` requests have come.
  bool WaitFor(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
  }

 private:
  // Reads until `done` says the text is complete; false when the peer closes first.
  static bool ReadUntil(int client, std::string& text, const std::function<bool()>& done) {
    char buffer[4096];
    for (ssize_t n; !done(); text.append(buffer, static_cast<std::size_t>(n)))
      if ((n = ::read(client, buffer, sizeof buffer)) <= 0) return false;
    return true;
  }

  void Handle(int client) {
    std::string text;
    if (!ReadUntil(client, text, [&] { return text.find("\r\n\r\n") != std::string::npos; }))
      return;
    const std::size_t body_at = text.find("\r\n\r\n") + 4;
    HttpRequest request;
    std::istringstream(text) >> request.method >> request.target;
    static const std::regex kHeader("\r\n([^:\r\n]+): *([^\r\n]*)");
    for (std::sregex_iterator h(text.cbegin(), text.cbegin() + body_at, kHeader), end; h != end;
         ++h) {
      std::string name = (*h)[1];
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      request.headers[name] = (*h)[2];
    }
    const std::size_t length = request.headers.contains("content-length")
                                   ? std::stoul(request.headers["content-length"])
                                   : 0;
    if (!ReadUntil(client, text, [&] { return text.size() >= body_at + length; })) return;
    request.body = text.substr(body_at, length);

    ScriptedAnswer answer;
    {
      std::lock_guard lock(mutex_);
      answer = respond_(request);
      request.answered = answer.status;
      requests_.push_back(request);
    }
    arrived_.notify_all();
    std::string reply = "HTTP/1.1 " + std::to_string(answer.status) +
                        " Scripted\r\nContent-Length: " + std::to_string(answer.body.size()) +
                        "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body;
    if (!answer.raw.empty()) reply = answer.raw;
    if (answer.silent) {
      ReadUntil(client, reply, [] { return false; });  // until the sender gives up
    } else if (::write(client, reply.data(), reply.size()) < 0) {
      return;  // the sender is gone
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::function<ScriptedAnswer(const HttpRequest&)> respond_ = [](auto&) {
    return ScriptedAnswer{};
  };
  std::vector<HttpRequest> requests_;
};

/// The value of field `name` in a form body, its %XX escapes undone; empty when
/// the body has no such field.
inline std::string FormField(const std::string& body, const std::string& name) {
  const std::size_t at = ("&" + body).find("&" + name + "=");
  if (at == std::string::npos) return "";
  std::string value = body.substr(at + name.size() + 1, body.find('&', at) - at - name.size() - 1);
  for (std::size_t i = value.find('%'); i != std::string::npos; i = value.find('%', i + 1))
    value.replace(i, 3, 1, static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16)));
  return value;
}

}  // namespace zevrin::testing
