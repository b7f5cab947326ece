// What the peers of the comparison script read, made from a KISS stream:
//   bench_peer_inputs pcap STREAM.kss OUT.pcap   the frames as a capture file
//   bench_peer_inputs serve STREAM.kss PORTFILE  the stream from a KISS TCP server
//
// pcap: every frame that the receive path hands over, its escapes undone and its
// FENDs removed, as one record of link type 202 (AX.25 behind its one-byte KISS
// header, which is kept so that the frame is read as the TNC sent it). Prints the
// number of frames.
//
// serve: listens on 127.0.0.1 at a free port, writes the port number to PORTFILE,
// sends the whole stream to the first client that connects, then closes the
// connection and ends.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames/frame_header.h"
#include "kiss/receive_path.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLinkTypeAx25Kiss = 202;
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kFirstSecond = 1245506709;  // 2009-06-20 14:05:09 UTC
constexpr std::uint32_t kMicrosecondsApart = 10000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "bench_peer_inputs: %s\n", message.c_str());
  return 2;
}

bool ReadFile(const char* path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// Collects each frame handed over, with its escapes undone and without FENDs.
class FrameBodies final : public zevrin::FrameHandler, public zevrin::ReceiveView {
 public:
  void HandOver(std::span<const std::uint8_t> frame, zevrin::ReceiveState&) override {
    zevrin::DecodeFrameHeader(frame, unescaped_, header_);
    const auto length = static_cast<std::size_t>(unescaped_.unescaped_length);
    // Position 1 is the opening FEND; the last byte is the closing one.
    if (length >= 3)
      bodies.emplace_back(unescaped_.bytes.begin() + 1,
                          unescaped_.bytes.begin() + static_cast<long>(length) - 1);
  }
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  std::vector<Bytes> bodies;

 private:
  zevrin::UnescapedFrame unescaped_;
  zevrin::FrameHeader header_;
};

class NoClock final : public zevrin::Clock {
 public:
  zevrin::UtcInstant Now() const override { return {}; }
};

void Put32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void Put16(std::string& out, std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); }

int WritePcap(const Bytes& stream, const char* path) {
  NoClock clock;
  FrameBodies frames;
  zevrin::ReceiveState state;
  zevrin::ReceivePath receive(state, clock, frames);
  receive.SetFrameHandler(&frames);
  receive.Assemble(stream);

  // The classic capture format in this machine's byte order, microsecond times.
  std::string out;
  Put32(out, 0xA1B2C3D4);
  Put16(out, 2);
  Put16(out, 4);
  Put32(out, 0);  // time zone
  Put32(out, 0);  // accuracy
  Put32(out, kSnapLength);
  Put32(out, kLinkTypeAx25Kiss);
  std::uint64_t micros = 0;
  for (const Bytes& body : frames.bodies) {
    Put32(out, kFirstSecond + static_cast<std::uint32_t>(micros / 1000000));
    Put32(out, static_cast<std::uint32_t>(micros % 1000000));
    Put32(out, static_cast<std::uint32_t>(body.size()));
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.append(body.begin(), body.end());
    micros += kMicrosecondsApart;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!file) return Fail(std::string("cannot write ") + path);
  std::printf("%zu\n", frames.bodies.size());
  return 0;
}

int Serve(const Bytes& stream, const char* port_file) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return Fail(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
  }
  // Written whole under another name first, so a reader never sees half a number.
  const std::string partial = std::string(port_file) + ".part";
  std::ofstream(partial) << ntohs(address.sin_port) << "\n";
  if (std::rename(partial.c_str(), port_file) != 0) return Fail("cannot write the port file");

  const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  if (client < 0) return Fail(std::string("accept: ") + std::strerror(errno));
  std::size_t sent = 0;
  while (sent < stream.size()) {
    const ssize_t n = ::send(client, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(client, SHUT_WR);
  ::close(client);
  return sent == stream.size() ? 0 : Fail("the client left before the end of the stream");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: bench_peer_inputs pcap STREAM.kss OUT.pcap\n"
                 "       bench_peer_inputs serve STREAM.kss PORTFILE\n");
    return 2;
  }
  Bytes stream;
  if (!ReadFile(argv[2], stream)) return Fail(std::string("cannot read ") + argv[2]);
  const std::string command = argv[1];
  if (command == "pcap") return WritePcap(stream, argv[3]);
  if (command == "serve") return Serve(stream, argv[3]);
  return Fail("unknown command " + command);
}
