#pragma once
// Serves the frames received on to other programs: a TCP port where any number of
// clients get every frame as the KISS bytes received, a software TNC's way.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input/tcp_link.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// The host a KISS server listens on when its address names only a port.
inline constexpr std::string_view kKissServerDefaultHost = "127.0.0.1";

/// "PORT", "HOST:PORT" or "[IPv6]:PORT"; a bare port listens on 127.0.0.1.
/// Nullopt for anything else.
std::optional<TcpAddress> ParseListenAddress(std::string_view text);

struct KissServerOptions {
  /// Bytes waiting for one client at most; a frame that does not fit is dropped
  /// whole for that client.
  std::size_t client_buffer_bytes = 64 * 1024;
  /// The system's send buffer of each client's socket, fixed so that a stalled
  /// client holds no more than this in the system either; 0 leaves the system's.
  int socket_buffer_bytes = 128 * 1024;
  /// Clients served at once; a further one is closed as soon as it connects.
  std::size_t clients_max = 256;
};

/// What the server is doing, for a status line.
struct KissServerStatus {
  bool listening = false;
  std::string address;  ///< "127.0.0.1:8101" as given
  std::size_t clients = 0;
  std::uint64_t frames = 0;   ///< frames offered while a client was connected
  std::uint64_t dropped = 0;  ///< frames dropped, summed over the clients
                              ///< (a frame cut off by the stop among them)
};

/// Told, on the server's own thread, of the clients that come and go and of a
/// client that starts missing frames.
class KissServerListener {
 public:
  virtual ~KissServerListener() = default;
  virtual void KissServerMessage(std::string_view text) = 0;
};

/// A frame sink that hands every frame's bytes (opening to closing FEND, escapes
/// as received) to each connected client. The frame is only copied into the
/// clients' buffers on the caller's thread; a thread of the server's own accepts,
/// sends and reads, so no client ever holds up the receive path. A client sees
/// whole frames only, from the first frame after it connected. What a client sends
/// is read and thrown away: it never reaches the TNC.
class KissServer final : public FrameSink {
 public:
  explicit KissServer(KissServerOptions options = {}, KissServerListener* listener = nullptr);
  ~KissServer() override;
  KissServer(const KissServer&) = delete;
  KissServer& operator=(const KissServer&) = delete;

  /// Listens on `address` ("[HOST:]PORT") and starts serving. Returns the reason
  /// when it cannot: "cannot serve KISS on 127.0.0.1:8001: Address already in use".
  std::optional<std::string> Start(std::string_view address);
  /// Closes every client and the port; the frames still waiting for a client
  /// count as dropped for it. Safe to call more than once.
  void Stop();
  /// Waits until every client has taken what waits for it, or `timeout` has
  /// passed; true when nothing waits.
  bool Drain(std::chrono::milliseconds timeout);

  void FrameDecoded(const DecodedFrame& frame) override { Offer(frame.bytes); }
  void TimeStampReceived(std::span<const std::uint8_t> frame) override { Offer(frame); }
  /// Queues `frame` for every client that has room for it whole.
  void Offer(std::span<const std::uint8_t> frame);

  KissServerStatus Status() const;
  /// The port listened on (the one the system chose for port 0); 0 when stopped.
  std::uint16_t port() const { return port_; }

 private:
  struct Client;

  void Serve();
  void Accept();
  // Sends what waits for the client, reads what it sent; false when it is gone.
  bool Exchange(Client& client, short events);
  void Tell(const std::string& text);

  KissServerOptions options_;
  KissServerListener* listener_;
  int listener_fd_ = -1;
  int wake_fd_ = -1;
  std::uint16_t port_ = 0;
  std::string address_;
  std::thread thread_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable drained_;
  std::vector<std::unique_ptr<Client>> clients_;
  bool stopping_ = false;
  bool wake_pending_ = false;
  std::uint64_t frames_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace zevrin
