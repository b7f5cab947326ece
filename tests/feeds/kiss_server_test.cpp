// The KISS server in the process: its addresses, a port another program holds,
// and a client that comes in the middle of the frames.

#include "outputs/kiss_server/kiss_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "support/kiss_server.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

struct Messages final : KissServerListener {
  void KissServerMessage(std::string_view text) override {
    std::lock_guard lock(mutex);
    all += std::string(text) + "\n";
  }
  std::string Text() {
    std::lock_guard lock(mutex);
    return all;
  }
  std::mutex mutex;
  std::string all;
};

TEST(KissServerTest, ListenAddresses) {
  EXPECT_EQ(ParseListenAddress("8101"), (TcpAddress{"127.0.0.1", 8101}));
  EXPECT_EQ(ParseListenAddress("0.0.0.0:8101"), (TcpAddress{"0.0.0.0", 8101}));
  EXPECT_EQ(ParseListenAddress("[::1]:8101"), (TcpAddress{"::1", 8101}));
  for (const char* bad : {"", "0", "65536", "host:", ":8101", "::1:8101", "8101x", "a b:1"})
    EXPECT_FALSE(ParseListenAddress(bad)) << bad;
}

TEST(KissServerTest, APortInUseIsNamedInTheError) {
  KissServer first;
  ASSERT_EQ(first.Start("0"),
            std::optional<std::string>("cannot serve KISS on '0': not "
                                       "[HOST:]PORT with a port from 1 to 65535"));
  testing::KissServer holder;
  const std::string address = "127.0.0.1:" + std::to_string(holder.port());
  EXPECT_EQ(first.Start(std::to_string(holder.port())),
            "cannot serve KISS on " + address + ": Address already in use");
  EXPECT_FALSE(first.Status().listening);
  holder.Stop();
  EXPECT_EQ(first.Start(address), std::nullopt);  // free again: taken
  EXPECT_TRUE(first.Status().listening);
}

// A client gets the frames from the one after it connected, whole; frames nobody
// can take are counted for no one; what the client sends changes nothing.
TEST(KissServerTest, AClientGetsWholeFramesFromWhenItCame) {
  Messages messages;
  KissServer server({}, &messages);
  ASSERT_EQ(server.Start("127.0.0.1:" + std::to_string(testing::KissServer::FreePort())),
            std::nullopt);
  const std::vector<std::uint8_t> before = {0xC0, 0x00, 0x01, 0xDB, 0xDC, 0xC0};
  const std::vector<std::uint8_t> after = {0xC0, 0x00, 0x02, 0xDB, 0xDD, 0x03, 0xC0};
  server.Offer(before);  // nobody there yet
  const int fd = testing::ConnectLoopback(server.port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WaitUntil([&] { return server.Status().clients == 1; }, 5s));
  ASSERT_EQ(::send(fd, "\xC0\x06\xC0", 3, 0), 3);  // a TNC command: ignored
  server.Offer(after);
  server.Offer(before);
  EXPECT_TRUE(server.Drain(5s));
  const std::string want =
      std::string(after.begin(), after.end()) + std::string(before.begin(), before.end());
  std::string got;
  WaitUntil([&] { return testing::ReadAvailable(fd, got) >= want.size(); }, 5s);
  EXPECT_EQ(got, want);
  EXPECT_EQ(server.Status().frames, 2u);  // the first reached no one
  EXPECT_EQ(server.Status().dropped, 0u);
  ::close(fd);
  EXPECT_TRUE(WaitUntil([&] { return server.Status().clients == 0; }, 5s));
  EXPECT_THAT(messages.Text(), ::testing::HasSubstr("connected (1 client(s))"));
  EXPECT_THAT(messages.Text(), ::testing::HasSubstr("left; 0 frame(s) dropped"));
}

// More clients than the server takes: the one too many is closed at once.
TEST(KissServerTest, ClientsBeyondTheMostAreClosed) {
  Messages messages;
  KissServer server({.clients_max = 1}, &messages);
  ASSERT_EQ(server.Start(std::to_string(testing::KissServer::FreePort())), std::nullopt);
  const int first = testing::ConnectLoopback(server.port());
  const int second = testing::ConnectLoopback(server.port());
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  char byte = 0;
  ASSERT_TRUE(WaitUntil([&] { return ::recv(second, &byte, 1, MSG_DONTWAIT) == 0; }, 5s));
  EXPECT_EQ(server.Status().clients, 1u);
  // The message may come just after the close.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return messages.Text().find("refused: 1 clients are served already") != std::string::npos;
      },
      5s))
      << messages.Text();
  ::close(first);
  ::close(second);
}

}  // namespace
}  // namespace zevrin
