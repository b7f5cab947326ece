#pragma once
// A small web server on 127.0.0.1 for tests: it records every request it receives
// and answers each as the test's script says. It can be taken down (connections are
// refused) and brought up again on the same port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zevrin::testing {

struct HttpRequest {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

struct ScriptedAnswer {
  int status = 201;
  std::string body;
  bool silent = false;  // answer nothing and hold the connection until it is closed
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
    std::lock_guard lock(mutex_);
    script_.assign(answers.begin(), answers.end());
    fallback_ = fallback;
  }

  /// Listens again (on the same port once it has had one).
  void Up() {
    if (listener_ >= 0) return;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
  }

  /// Stops listening: connections are refused until Up().
  void Down() {
    if (listener_ < 0) return;
    stop_ = true;
    thread_.join();
    ::close(listener_);
    listener_ = -1;
  }

  std::vector<HttpRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  /// Waits until at least `n` requests have come.
  bool WaitFor(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      Handle(client);
      ::close(client);
    }
  }

  // Reads until `done` says the text is complete, the peer closes, or we stop.
  bool ReadUntil(int client, std::string& text, const std::function<bool()>& done) {
    char buffer[4096];
    while (!done()) {
      pollfd p{client, POLLIN, 0};
      if (stop_) return false;
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) return false;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void Handle(int client) {
    std::string text;
    if (!ReadUntil(client, text, [&] { return text.find("\r\n\r\n") != std::string::npos; }))
      return;
    const std::size_t head_end = text.find("\r\n\r\n");
    HttpRequest request;
    std::size_t line_end = text.find("\r\n");
    const std::string first = text.substr(0, line_end);
    request.method = first.substr(0, first.find(' '));
    request.target = first.substr(first.find(' ') + 1);
    request.target = request.target.substr(0, request.target.find(' '));
    while (line_end < head_end) {
      const std::size_t start = line_end + 2;
      line_end = text.find("\r\n", start);
      const std::string line = text.substr(start, line_end - start);
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::size_t value = colon + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      request.headers[name] = line.substr(value);
    }
    const std::size_t length =
        request.headers.count("content-length") ? std::stoul(request.headers["content-length"]) : 0;
    if (!ReadUntil(client, text, [&] { return text.size() >= head_end + 4 + length; })) return;
    request.body = text.substr(head_end + 4, length);

    ScriptedAnswer answer;
    {
      std::lock_guard lock(mutex_);
      answer = script_.empty() ? fallback_ : script_.front();
      if (!script_.empty()) script_.pop_front();
      requests_.push_back(request);
    }
    arrived_.notify_all();
    if (answer.silent) {
      std::string ignored;
      ReadUntil(client, ignored, [] { return false; });
      return;
    }
    const std::string reply = "HTTP/1.1 " + std::to_string(answer.status) +
                              " Scripted\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" +
                              answer.body;
    [[maybe_unused]] const ssize_t n = ::write(client, reply.data(), reply.size());
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<ScriptedAnswer> script_;
  ScriptedAnswer fallback_;
  std::vector<HttpRequest> requests_;
};

/// The fields of a form body, decoded.
inline std::map<std::string, std::string> FormFields(const std::string& body) {
  const auto decode = [](const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size()) {
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  };
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    if (!pair.empty())
      fields[decode(pair.substr(0, eq))] =
          eq == std::string::npos ? "" : decode(pair.substr(eq + 1));
    start = end + 1;
  }
  return fields;
}

}  // namespace zevrin::testing
