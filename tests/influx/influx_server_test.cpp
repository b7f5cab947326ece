// The decode tool's InfluxDB feed against a real InfluxDB 1.x (influxd), started
// by the test on free ports of 127.0.0.1 with its files in a temporary folder,
// stopped and started again, and stopped at the end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "sample/sample_pass.h"
#include "support/archive_db.h"
#include "support/kiss_server.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

constexpr const char* kDatabase = "tarvelo";

// influxd with its files in `dir`; started by the set-up script, whose child it
// stays (this process is made its reaper), so that it can be stopped and waited for.
class Influxd {
 public:
  explicit Influxd(std::string dir, std::string login = "")
      : dir_(std::move(dir)),
        login_(std::move(login)),
        port_(testing::KissServer::FreePort()),
        rpc_(testing::KissServer::FreePort()) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    Start();
  }
  ~Influxd() { Stop(); }

  void Start() {
    std::string out;
    testing::RunShell(std::string(ZEVRIN_INFLUXD_SCRIPT) + " " + dir_ + " " +
                          std::to_string(port_) + " " + std::to_string(rpc_) + " " + kDatabase +
                          " " + login_ + " 2>&1",
                      out);
    pid_ = std::atoi(out.c_str());
    ASSERT_GT(pid_, 0) << out;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The points of `measurement`, as InfluxDB counts them, and their distinct times.
  std::pair<long, long> Count(const std::string& measurement) const {
    std::string out;
    testing::RunShell("curl -s --noproxy '*' -u " + (login_.empty() ? "x:x" : login_) + " -G '" +
                          url() + "/query?db=" + kDatabase + "' --data-urlencode " +
                          "'q=SELECT frame_number FROM " + measurement + "'",
                      out);
    const auto reply = nlohmann::json::parse(out, nullptr, false);
    const auto& result = reply["results"][0];
    if (!result.contains("series")) return {0, 0};
    std::set<std::string> times;
    for (const auto& value : result["series"][0]["values"])
      times.insert(value[0].get<std::string>());
    return {static_cast<long>(result["series"][0]["values"].size()),
            static_cast<long>(times.size())};
  }

 private:
  std::string dir_;
  std::string login_;
  int port_;
  int rpc_;
  pid_t pid_ = 0;
};

class InfluxServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/usr/bin/influxd", X_OK) != 0) GTEST_SKIP() << "influxd is not installed";
  }
  std::string Decode(const std::string& args) const {
    return std::string(ZEVRIN_DECODE_BINARY) + " --archive " + dir_.Path("a.sqlite") + " " + args +
           " 2>" + dir_.Path("err.txt");
  }
  long Records(const std::string& table) const {
    return std::stol(testing::Db(dir_.Path("a.sqlite")).One("SELECT count(*) FROM " + table));
  }

  testing::TempDir dir_{"influx-server"};
};

// The database, which asks for the login the environment gives, stopped and started
// again in the middle of a pass that comes in bit by bit: afterwards it holds every
// record once, each at its own time.
TEST_F(InfluxServerTest, ADatabaseRestartedInThePassLosesNothingAndDoublesNothing) {
  Influxd influxd(dir_.Path("influx"), "admin:s3cret");
  ::setenv("ZEVRIN_INFLUX_TOKEN", "admin:s3cret", 1);
  dir_.WriteBytes("pass.kss", sample::MakePass({.frames = 1200, .seed = 7}));
  const std::string bytes = dir_.Contents("pass.kss");
  std::FILE* tool = ::popen(Decode("--influx '" + influxd.url() + "/write?db=tarvelo' " +
                                   "--start-time 2026-12-06T13:12:00Z --station Lab -")
                                .c_str(),
                            "w");
  ::unsetenv("ZEVRIN_INFLUX_TOKEN");
  ASSERT_NE(tool, nullptr);
  const std::size_t quarter = bytes.size() / 4;
  const auto feed = [&](int k) {
    std::fwrite(bytes.data() + k * quarter, 1, k == 3 ? bytes.size() - 3 * quarter : quarter, tool);
    std::fflush(tool);
  };
  feed(0);
  for (int i = 0; i < 100 && influxd.Count("power_housekeeping").first == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_GT(influxd.Count("power_housekeeping").first, 0) << "nothing arrived before the stop";
  influxd.Stop();
  feed(1);
  feed(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // tries and fails meanwhile
  influxd.Start();
  feed(3);
  EXPECT_EQ(WEXITSTATUS(::pclose(tool)), 0) << dir_.Contents("err.txt");
  EXPECT_THAT(dir_.Contents("err.txt"), ::testing::HasSubstr(" 0 queued, 0 dropped"));
  for (const std::string table : {"power_housekeeping", "system_housekeeping"}) {
    const auto [points, times] = influxd.Count(table);
    EXPECT_EQ(points, Records(table)) << table;
    EXPECT_EQ(times, points) << table;
  }
  EXPECT_EQ(Records("influx_points"), 0);  // nothing left queued
}

}  // namespace
}  // namespace zevrin
