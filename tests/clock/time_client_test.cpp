#include "adapters/time_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "support/qt_wait.h"

namespace zevrin {
namespace {

using testing::WaitFor;

struct Recorder : StatusSink, ClockSetter {
  void SetStatusText(std::string_view text) override { texts.emplace_back(text); }
  bool SetSystemTime(const ClockRecord& r) override { return records.push_back(r), true; }
  std::vector<std::string> texts;
  std::vector<ClockRecord> records;
};

// A silent server keeps the client connected; a new attempt drops that connection
// without a word. A flood ends with its first arrival: the client, not the server,
// closes the connection instead of reading for as long as it lasts. A reply that the
// server ends sets the clock.
// The client runs against a TIME server on 127.0.0.1 whose connections the test
// feeds. The texts and the rules of a reply are the core's; here the socket's part.
TEST(TimeClientTest, SilentServerWaitsAFloodIsCutAndAServerEndedReplySetsTheClock) {
  QTcpServer server;
  std::vector<QTcpSocket*> peers;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  QObject::connect(&server, &QTcpServer::newConnection, [&] {
    while (QTcpSocket* s = server.nextPendingConnection()) peers.push_back(s);
  });
  Recorder rec;
  auto client = std::make_unique<TimeClient>(rec, rec, server.serverPort());
  const auto Finished = [&] {
    return WaitFor([&] { return client->state() == TimeSync::State::kFinished; });
  };
  // Starts an attempt and waits until the server has its connection.
  const auto Connect = [&]() -> QTcpSocket* {
    rec = Recorder{};
    const std::size_t n = peers.size();
    client->Begin("127.0.0.1");
    if (!WaitFor([&] { return peers.size() == n + 1 && rec.texts.size() == 2; })) return nullptr;
    return rec.texts[1] == "   winsock connection made" ? peers.back() : nullptr;
  };
  QTcpSocket* silent = Connect();
  ASSERT_NE(silent, nullptr);
  QTest::qWait(200);
  EXPECT_EQ(client->state(), TimeSync::State::kConnected);
  QTcpSocket* flood = Connect();
  ASSERT_NE(flood, nullptr);
  EXPECT_TRUE(WaitFor([&] { return silent->state() == QAbstractSocket::UnconnectedState; }));
  flood->write(QByteArray(10 * 1024 * 1024, 'Z'));
  ASSERT_TRUE(Finished());
  EXPECT_TRUE(WaitFor([&] { return flood->state() == QAbstractSocket::UnconnectedState; }));
  EXPECT_EQ(rec.texts.size(), 6u);
  EXPECT_EQ(rec.texts.back(), "Time passed not valid. Clock not synchronised");

  QTcpSocket* peer = Connect();
  ASSERT_NE(peer, nullptr);
  peer->write(QByteArray::fromHex("CDE74DC0"));
  peer->disconnectFromHost();
  ASSERT_TRUE(Finished());
  EXPECT_THAT(rec.records, ::testing::ElementsAre(ClockRecord{2009, 6, 0, 20, 12, 0, 0, 0}));
  EXPECT_EQ(rec.texts.back(), "clock synchronised succesfully with NTP server 127.0.0.1");
}

}  // namespace
}  // namespace zevrin
