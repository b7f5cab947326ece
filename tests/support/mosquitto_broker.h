#pragma once
// A Mosquitto broker for tests on 127.0.0.1 at a free port, with a configuration
// of its own, and a subscriber that keeps every message it gets.

#include <mosquitto.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "support/tool_process.h"

namespace zevrin::testing {

inline constexpr const char* kMosquittoBinary = "/usr/sbin/mosquitto";
inline constexpr const char* kMosquittoPasswd = "/usr/bin/mosquitto_passwd";

inline bool MosquittoInstalled() {
  return ::access(kMosquittoBinary, X_OK) == 0 && ::access(kMosquittoPasswd, X_OK) == 0;
}

class MosquittoBroker {
 public:
  /// A broker keeping its files in `dir`. With a user, only that user may log
  /// in; `persistent` keeps the sessions and their messages across a restart.
  MosquittoBroker(const std::filesystem::path& dir, std::string user = "",
                  std::string password = "", bool persistent = false)
      : dir_(dir), port_(KissServer::FreePort()) {
    // Started by root, the broker goes on as the user "mosquitto": it must be able
    // to keep its sessions in the folder.
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
    std::ofstream conf(dir_ / "mosquitto.conf");
    conf << "listener " << port_ << " 127.0.0.1\n";
    if (user.empty()) {
      conf << "allow_anonymous true\n";
    } else {
      const std::string file = (dir_ / "passwords").string();
      const std::string command = std::string(kMosquittoPasswd) + " -c -b " + file + " " + user +
                                  " " + password + " >/dev/null 2>&1";
      passwords_made_ = std::system(command.c_str()) == 0;
      conf << "allow_anonymous false\npassword_file " << file << "\n";
    }
    if (persistent)
      conf << "persistence true\npersistence_location " << (dir_ / "").string() << "\n";
  }
  ~MosquittoBroker() { Stop(); }

  /// A second listener, with TLS by the certificate and key files; its port.
  std::uint16_t AddTlsListener(const std::string& cert, const std::string& key) {
    const std::uint16_t port = KissServer::FreePort();
    std::ofstream conf(dir_ / "mosquitto.conf", std::ios::app);
    conf << "listener " << port << " 127.0.0.1\ncertfile " << cert << "\nkeyfile " << key << "\n";
    return port;
  }

  /// Starts the broker and waits until it takes connections; false also when its
  /// password file could not be made.
  bool Start() {
    const std::string conf = (dir_ / "mosquitto.conf").string();
    if (!passwords_made_ ||
        !process_.Start({kMosquittoBinary, "-c", conf}, (dir_ / "broker.out").string(),
                        (dir_ / "broker.err").string()))
      return false;
    return WaitUntil([&] { return Accepting(port_); }, std::chrono::seconds(10));
  }
  /// Ends the broker as a service manager would (it saves its sessions).
  void Stop() { process_.Stop(SIGTERM); }

  std::uint16_t port() const { return port_; }

 private:
  std::filesystem::path dir_;
  std::uint16_t port_;
  bool passwords_made_ = true;
  ToolProcess process_;
};

/// Subscribes to zevrinkiss/# with QoS 1 (again after each reconnection) and keeps
/// every message. A `client_id` with `keep_session` makes the broker keep what
/// comes for it while it is away.
class Subscriber {
 public:
  Subscriber(std::uint16_t port, const std::string& client_id = "", bool keep_session = false,
             const std::string& user = "", const std::string& password = "") {
    mosquitto_lib_init();
    client_ = mosquitto_new(client_id.empty() ? nullptr : client_id.c_str(), !keep_session, this);
    if (!user.empty()) mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
      if (rc != 0) return;
      mosquitto_subscribe(m, nullptr, "zevrinkiss/#", 1);
      static_cast<Subscriber*>(self)->connects_++;
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_++;
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* s = static_cast<Subscriber*>(self);
      std::lock_guard lock(s->mutex_);
      s->messages_.emplace_back(m->topic,
                                std::string(static_cast<const char*>(m->payload), m->payloadlen));
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_async(client_, "127.0.0.1", port, 10);
    mosquitto_loop_start(client_);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }

  /// Waits until the subscription of the latest connection is in place.
  bool WaitSubscribed(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const int want = connects_.load() > 0 ? connects_.load() : 1;
    return WaitUntil([&] { return subscribed_.load() >= want; }, timeout);
  }
  /// The payloads of `topic`, in order.
  std::vector<std::string> On(const std::string& topic) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> payloads;
    for (const auto& [t, payload] : messages_)
      if (t == topic) payloads.push_back(payload);
    return payloads;
  }

 private:
  mosquitto* client_ = nullptr;
  std::atomic<int> connects_{0};
  std::atomic<int> subscribed_{0};
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> messages_;
};

}  // namespace zevrin::testing
