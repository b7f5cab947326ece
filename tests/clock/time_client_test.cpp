#include "adapters/time_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>
#include <cerrno>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/qt_wait.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using testing::WaitFor;

const std::string kOpening = "opening connection to TIMESERVER [127.0.0.1]";
const std::string kConnected = "   winsock connection made";
const std::string kClosing = "   closing connection";
const std::string kClosed = "   sockets closed";
const std::string kInvalid = "Time passed not valid. Clock not synchronised";
const std::string kBeginning = "   beginning system clock synchronization";
const std::string kSynchronised = "clock synchronised succesfully with NTP server 127.0.0.1";
const ClockRecord kJune20{2009, 6, 0, 20, 12, 0, 0, 0};

struct Recorder : StatusSink, ClockSetter {
  void SetStatusText(std::string_view text) override { texts.emplace_back(text); }
  bool SetSystemTime(const ClockRecord& r) override { return records.push_back(r), setter_ok; }
  std::vector<std::string> texts;
  std::vector<ClockRecord> records;
  bool setter_ok = true;
};

// The client against a TIME server on 127.0.0.1 whose connections the test feeds.
class TimeClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* s = server.nextPendingConnection()) peers.push_back(s);
    });
    client = std::make_unique<TimeClient>(rec, rec, server.serverPort());
  }
  bool Finished() {
    return WaitFor([&] { return client->state() == TimeSync::State::kFinished; });
  }
  std::size_t Count(const std::string& prefix) {
    return std::count_if(rec.texts.begin(), rec.texts.end(),
                         [&](const std::string& t) { return t.starts_with(prefix); });
  }
  // Sends each arrival once the client has reported the one before, then closes.
  void Serve(const std::vector<QByteArray>& arrivals) {
    const std::size_t n = peers.size(), connected = Count(kConnected);
    client->Begin("127.0.0.1");
    ASSERT_TRUE(WaitFor([&] { return peers.size() == n + 1 && Count(kConnected) > connected; }));
    for (const QByteArray& arrival : arrivals) {
      const std::size_t received = Count("data received: ");
      peers.back()->write(arrival);
      ASSERT_TRUE(WaitFor([&] { return Count("data received: ") > received; }));
    }
    peers.back()->disconnectFromHost();
    ASSERT_TRUE(Finished());
  }

  QTcpServer server;
  std::vector<QTcpSocket*> peers;
  Recorder rec;
  std::unique_ptr<TimeClient> client;
};

TEST_F(TimeClientTest, RepliesEndedByTheServerAfterASilentOne) {
  // First a silent server: the client stays connected while the event loop runs, and
  // the first case's Begin starts afresh without a word about the connection it drops.
  client->Begin("127.0.0.1");
  ASSERT_TRUE(WaitFor([&] { return Count(kConnected) == 1; }));
  QTest::qWait(200);
  EXPECT_THAT(rec.texts, ElementsAre(kOpening, kConnected));

  // What the server sends, and the texts after the connection is made; the setter fails
  // where the texts say so, and it is called whenever synchronisation begins.
  const QByteArray reply = QByteArray::fromHex("CDE74DC0");
  const std::string set_failed = "SetSystemTime failed. Clock not synchronised";
  const std::pair<std::vector<QByteArray>, std::vector<std::string>> cases[] = {
      {{reply},
       {"data received: CD E7 4D C0  (4 bytes)", kClosing, kClosed, kBeginning, kSynchronised}},
      {{reply.left(2), reply.mid(2)},
       {"data received: CD E7  (2 bytes)", "data received: 4D C0  (2 bytes)", kClosing, kClosed,
        kBeginning, set_failed}},
      {{}, {kClosing, kClosed, kInvalid}},
      {{QByteArray::fromHex("0102030405")},
       {"data received: 01 02 03 04 05  (5 bytes)", kClosing, kClosed, kInvalid}},
      {{QByteArray(4, '\0')}, {"data received: 00 00 00 00  (4 bytes)", kClosing, kClosed}}};
  for (const auto& [arrivals, texts] : cases) {
    rec = Recorder{};
    rec.setter_ok = texts.back() != set_failed;
    Serve(arrivals);
    std::vector<std::string> expected{kOpening, kConnected};
    expected.insert(expected.end(), texts.begin(), texts.end());
    EXPECT_THAT(rec.texts, ElementsAreArray(expected));
    const bool set = std::find(texts.begin(), texts.end(), kBeginning) != texts.end();
    EXPECT_EQ(rec.records, set ? std::vector{kJune20} : std::vector<ClockRecord>{});
  }
  EXPECT_TRUE(WaitFor([&] { return peers[0]->state() == QAbstractSocket::UnconnectedState; }));
}

// The client, not the server, closes the connection once a fifth byte has come, and a
// flood ends with its first arrival instead of being read for as long as it lasts.
TEST_F(TimeClientTest, FifthByteAndFloodAreClosedByTheClient) {
  const std::pair<std::vector<QByteArray>, std::string> cases[] = {
      {{QByteArray::fromHex("01020304"), QByteArray::fromHex("05")},
       R"(data received: 05  \(1 bytes\))"},
      {{QByteArray(10 * 1024 * 1024, 'Z')}, R"(data received: (5A )+(\.\.\. )?\(\d+ bytes\))"}};
  for (const auto& [arrivals, last_arrival] : cases) {
    rec = Recorder{};
    const std::size_t n = peers.size();
    client->Begin("127.0.0.1");
    ASSERT_TRUE(WaitFor([&] { return peers.size() == n + 1 && Count(kConnected) == 1; }));
    QTcpSocket* peer = peers.back();
    for (const QByteArray& arrival : arrivals) {
      ASSERT_EQ(client->state(), TimeSync::State::kConnected);
      const std::size_t received = Count("data received: ");
      peer->write(arrival);
      ASSERT_TRUE(WaitFor([&] { return Count("data received: ") > received; }));
    }
    ASSERT_TRUE(Finished());
    // The server never closed: the client did.
    EXPECT_TRUE(WaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    // One text per arrival the client took in, at most four before the fifth byte.
    ASSERT_GE(rec.texts.size(), 2 + arrivals.size() + 3);
    ASSERT_LE(rec.texts.size(), 2 + 4 + 1 + 3);
    EXPECT_TRUE(std::regex_match(rec.texts[rec.texts.size() - 4], std::regex(last_arrival)))
        << rec.texts[rec.texts.size() - 4];
    EXPECT_THAT(std::vector(rec.texts.end() - 3, rec.texts.end()),
                ElementsAre(kClosing, kClosed, kInvalid));
    EXPECT_THAT(rec.records, IsEmpty());
  }
}

TEST_F(TimeClientTest, ConnectionFailuresEndWithSocketsClosed) {
  server.close();  // its port is now free, with nothing listening
  for (const auto& [host, code] :
       {std::pair<std::string, int>{"127.0.0.1", ECONNREFUSED},
        {"zevrin-no-such-host.invalid", SocketErrorNumber(QAbstractSocket::HostNotFoundError)}}) {
    rec = Recorder{};
    client->Begin(host);
    ASSERT_TRUE(Finished());
    // The error's description, then its number.
    EXPECT_THAT(rec.texts,
                ElementsAre("opening connection to TIMESERVER [" + host + "]",
                            MatchesRegex("   error received: .+"),
                            "   error received: " + std::to_string(code), "sockets closed"));
    EXPECT_THAT(rec.records, IsEmpty());
  }
}

}  // namespace
}  // namespace zevrin
