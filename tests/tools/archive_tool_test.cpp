// zevrinkiss-decode filling an archive and writing line protocol, run as a user
// would; the line protocol goes into a real InfluxDB server started here.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "outputs/archive/archive_columns.h"
#include "outputs/archive/archive_writer.h"
#include "sample/sample_pass.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::json;
using sample::Bytes;
using ::testing::HasSubstr;
using testing::Lines;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with `args` (a shell command line), standard error to a file.
ToolRun RunTool(const std::string& args, const testing::TempDir& dir) {
  ToolRun run;
  run.status = testing::RunShell(
      std::string(ZEVRIN_DECODE_BINARY) + " " + args + " 2>" + (dir / "stderr.txt").string(),
      run.out);
  run.err = dir.Contents("stderr.txt");
  return run;
}

std::vector<std::string> Split(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  bool quoted = false;
  for (const char c : row) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.push_back(cell);
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells.push_back(cell);
  return cells;
}

std::vector<std::vector<std::string>> Query(const std::string& path, const std::string& sql) {
  return testing::Db(path).Rows(sql);
}

class ArchiveToolTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    dir_.Write(name, std::string(bytes.begin(), bytes.end()));
    return (dir_ / name).string();
  }
  std::string Archive() const { return (dir_ / "a.sqlite").string(); }

  testing::TempDir dir_{"archive-tool"};
};

// The text a JSON frame gives for a column's value, or none.
std::optional<std::string> JsonValue(const Json& frame, const ArchiveColumn& c) {
  const auto text = [](const Json& object, const std::string& key) -> std::optional<std::string> {
    if (!object.contains(key)) return std::nullopt;
    return object[key].get<std::string>();
  };
  switch (c.source) {
    case ValueSource::kField:
      return text(frame["fields"], std::to_string(c.index));
    case ValueSource::kColour:
      return text(frame["colours"], std::to_string(c.index));
    case ValueSource::kBox:
      return text(frame["boxes"],
                  std::string(BoxTable()[static_cast<std::size_t>(c.index)].json_key));
    case ValueSource::kGauge:
      return text(frame["gauges"],
                  std::string(GaugeTable()[static_cast<std::size_t>(c.index)].json_key));
  }
  return std::nullopt;
}

TEST_F(ArchiveToolTest, TheArchiveOfAPassHoldsEveryFrameAndExactlyTheJsonValues) {
  const Bytes stream = sample::MakePass({.frames = 600, .seed = 5});
  const std::string in = Write("Lab_03032010_1407.kss", stream);
  const ToolRun first = RunTool("--archive " + Archive() + " " + in, dir_);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "");  // filling an archive prints nothing by itself
  const ToolRun json = RunTool("--format json " + in, dir_);
  std::vector<Json> frames;
  for (const std::string& line : Lines(json.out)) frames.push_back(Json::parse(line));

  const std::vector<Bytes> logged = testing::LoggedFrames(stream);
  const auto rows = Query(Archive(), "SELECT hex(bytes), station, link FROM frames ORDER BY id");
  ASSERT_EQ(rows.size(), logged.size());
  ASSERT_EQ(frames.size(), logged.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::string hex;
    for (const std::uint8_t b : logged[k]) {
      char two[3];
      std::snprintf(two, sizeof two, "%02X", b);
      hex += two;
    }
    ASSERT_EQ(rows[k][0], hex) << k;
    EXPECT_EQ(rows[k][1], "Lab");
    EXPECT_EQ(rows[k][2], "Lab_03032010_1407.kss");
  }

  int records = 0;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const bool power = frames[k]["fields"].contains("0");
    const bool system = frames[k]["fields"].contains("54");
    if (!power && !system) continue;
    ++records;
    const RecordKind kind = power ? RecordKind::kPower : RecordKind::kSystem;
    for (const auto& item : frames[k]["fields"].items()) {  // each value has a column
      const int field = std::stoi(item.key());
      EXPECT_TRUE(std::ranges::any_of(ArchiveColumns(), [&](const ArchiveColumn& c) {
        return c.record == kind && c.source == ValueSource::kField && c.index == field;
      })) << field;
    }
    std::string sql = "SELECT ";
    std::vector<const ArchiveColumn*> columns;
    for (const ArchiveColumn& c : ArchiveColumns()) {
      if (c.record != kind) continue;
      sql += std::string(columns.empty() ? "" : ", ") + "quote(" + std::string(c.name) + ")";
      columns.push_back(&c);
    }
    sql += " FROM " + std::string(RecordTable(kind)) + " WHERE frame_id = " + std::to_string(k + 1);
    const auto row = Query(Archive(), sql);
    ASSERT_EQ(row.size(), 1u) << k;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::optional<std::string> want = JsonValue(frames[k], *columns[c]);
      const std::string& got = row[0][c];
      if (!want) {
        EXPECT_EQ(got, "NULL") << columns[c]->name;
      } else if (columns[c]->kind == ValueKind::kText) {
        EXPECT_EQ(got, "'" + *want + "'") << columns[c]->name;
      } else if (columns[c]->kind == ValueKind::kReal) {
        // quote() writes a REAL with all the digits it needs to come back exact, and
        // with a point or an exponent, unlike an INTEGER.
        EXPECT_NE(got.find_first_of(".e"), std::string::npos) << columns[c]->name << " " << got;
        EXPECT_EQ(std::stod(got), std::stod(*want)) << columns[c]->name << " " << *want;
      } else if (got.find_first_not_of("-0123456789") != std::string::npos) {
        ADD_FAILURE() << columns[c]->name << " is no INTEGER: " << got;
      } else if (columns[c]->kind == ValueKind::kHex) {
        EXPECT_EQ(std::stoll(got), std::stoll(*want, nullptr, 16)) << columns[c]->name;
      } else {
        EXPECT_EQ(std::stoll(got), std::stoll(*want)) << columns[c]->name << " " << *want;
      }
    }
  }
  EXPECT_GT(records, 200);

  // The same recording again adds nothing.
  const ToolRun second = RunTool("--archive " + Archive() + " " + in, dir_);
  EXPECT_EQ(second.status, 0);
  EXPECT_THAT(second.err, HasSubstr(" 0 frames added to "));
  EXPECT_THAT(second.err, HasSubstr(std::to_string(logged.size()) + " already there"));
  EXPECT_EQ(Query(Archive(), "SELECT count(*) FROM frames")[0][0], std::to_string(logged.size()));
  EXPECT_EQ(Query(Archive(), "SELECT count(*) FROM power_housekeeping")[0][0],
            std::to_string(std::count_if(frames.begin(), frames.end(),
                                         [](const Json& f) { return f["fields"].contains("0"); })));
}

TEST_F(ArchiveToolTest, RecordedFramesFollowTheirStartAtTheLineRate) {
  // Frames of 4, 10 and 500 bytes.
  const Bytes a = {0xC0, 0x00, 0x41, 0xC0};
  Bytes b = {0xC0, 0x00, 1, 2, 3, 4, 5, 6, 7, 0xC0};
  Bytes c(500, 0x33);
  c.front() = 0xC0;
  c.back() = 0xC0;
  Bytes stream;
  for (const Bytes* part : std::array<const Bytes*, 3>{&a, &b, &c}) {
    for (const std::uint8_t byte : *part) stream.push_back(byte);
  }
  const std::string named = Write("My_Lab_03032010_1407.kss", stream);
  const std::string plain = Write("capture.bin", stream);
  // The plain file was last written at 2011-01-01 00:00:00 UTC.
  const timespec times[2] = {{1293840000, 0}, {1293840000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, plain.c_str(), times, 0), 0);

  constexpr std::int64_t kMinute = 1267625220000;  // 2010-03-03 14:07 UTC
  const struct {
    std::string args;
    std::int64_t start;
    std::int64_t bits_per_ms_x1000;  // baud
    std::string station;
  } cases[] = {
      {named, kMinute, 9600, "My_Lab"},
      {"--baud 1200 " + named, kMinute, 1200, "My_Lab"},
      {"--start-time 2020-05-01T10:00:00.5Z --station Other " + named, 1588327200500, 9600,
       "Other"},
      {plain, 1293840000000, 9600, ""},
  };
  for (const auto& t : cases) {
    std::filesystem::remove(Archive());
    ASSERT_EQ(RunTool("--archive " + Archive() + " " + t.args, dir_).status, 0) << t.args;
    const auto rows = Query(Archive(), "SELECT received_ms, station FROM frames ORDER BY id");
    ASSERT_EQ(rows.size(), 3u) << t.args;
    std::int64_t bytes = 0;
    const std::size_t sizes[] = {a.size(), b.size(), c.size()};
    for (std::size_t k = 0; k < 3; ++k) {
      bytes += static_cast<std::int64_t>(sizes[k]);
      // Each frame has arrived when its last byte has: 10 bits a byte.
      EXPECT_EQ(rows[k][0], std::to_string(t.start + bytes * 10 * 1000 / t.bits_per_ms_x1000))
          << t.args << " frame " << k;
      EXPECT_EQ(rows[k][1], t.station) << t.args;
    }
  }
  // Two files on the command line: each starts at its own time.
  std::filesystem::remove(Archive());
  ASSERT_EQ(RunTool("--archive " + Archive() + " " + named + " " + plain, dir_).status, 0);
  const auto both = Query(Archive(), "SELECT received_ms FROM frames WHERE id IN (1, 4)");
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0][0], std::to_string(kMinute + 4 * 10 * 1000 / 9600));
  EXPECT_EQ(both[1][0], std::to_string(1293840000000 + 4 * 10 * 1000 / 9600));
}

TEST_F(ArchiveToolTest, AProgressBarOnlyOnATerminalAndOnlyForFiles) {
  const std::string in = Write("in.kss", sample::MakePass({.frames = 2000}));
  const std::string tool = std::string(ZEVRIN_DECODE_BINARY) + " --archive " + Archive();
  const auto on_terminal = [&](const std::string& args) {
    // `script` runs the tool with a pseudo-terminal as its standard error.
    std::string out;
    EXPECT_EQ(testing::RunShell("script -qec '" + tool + " " + args + "' /dev/null", out), 0);
    return out;
  };
  const std::string bar = on_terminal(in);
  EXPECT_THAT(bar, HasSubstr("] 100%  "));
  EXPECT_THAT(bar, HasSubstr(" frames/s"));
  EXPECT_THAT(bar, HasSubstr("0 frames added"));
  EXPECT_THAT(on_terminal("< " + in), ::testing::Not(HasSubstr("%")));  // standard input
  EXPECT_THAT(RunTool("--archive " + Archive() + " " + in, dir_).err,
              ::testing::Not(HasSubstr("%")));  // not a terminal
}

TEST_F(ArchiveToolTest, BadArchivesAndOptionsAreRefusedBeforeAnythingIsRead) {
  dir_.Write("notes.txt", "just some text that is not a database, long enough to be looked at");
  const std::string in = Write("in.kss", sample::MakePass({.frames = 20}));
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"--archive " + (dir_ / "notes.txt").string(), "not a database"},
      {"--archive " + (dir_ / "no/such/dir/a.sqlite").string(), "cannot use the archive"},
      {in + " --archive", "--archive needs a value"},
      {"--start-time yesterday", "--start-time takes a UTC time"},
      {"--baud 0", "--baud takes a line rate"},
      {"--baud 96OO", "--baud takes a line rate"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.args.starts_with(in) ? c.args : c.args + " " + in, dir_);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.args;
    EXPECT_EQ(run.out, "") << c.args;
  }
  EXPECT_EQ(dir_.Contents("notes.txt"),
            "just some text that is not a database, long enough to be looked at");
}

// --- A real InfluxDB --------------------------------------------------------------

constexpr const char* kInfluxd = "/usr/bin/influxd";

// One HTTP/1.0 exchange with 127.0.0.1:port; returns the status and the body.
std::pair<int, std::string> Http(std::uint16_t port, const std::string& request_line,
                                 const std::string& body = "") {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return {0, ""};
  }
  std::string request = request_line + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
  for (std::size_t at = 0; at < request.size();) {
    const ssize_t n = ::write(s, request.data() + at, request.size() - at);
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  std::string reply;
  char buf[65536];
  for (ssize_t n; (n = ::read(s, buf, sizeof buf)) > 0;)
    reply.append(buf, static_cast<std::size_t>(n));
  ::close(s);
  const std::size_t space = reply.find(' ');
  const std::size_t end = reply.find("\r\n\r\n");
  if (space == std::string::npos || end == std::string::npos) return {0, reply};
  return {std::atoi(reply.c_str() + space + 1), reply.substr(end + 4)};
}

std::string UrlEncode(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// An InfluxDB server on free local ports with everything in a temporary directory,
// stopped (and its directory removed) at the end.
class InfluxServer {
 public:
  explicit InfluxServer(const testing::TempDir& dir) : http_port_(testing::KissServer::FreePort()) {
    const std::string d = dir.string();
    std::ofstream(dir / "influxdb.conf")
        << "reporting-disabled = true\n"
        << "bind-address = \"127.0.0.1:" << testing::KissServer::FreePort() << "\"\n"
        << "[meta]\n  dir = \"" << d << "/meta\"\n"
        << "[data]\n  dir = \"" << d << "/data\"\n  wal-dir = \"" << d << "/wal\"\n"
        << "  query-log-enabled = false\n"
        << "[http]\n  bind-address = \"127.0.0.1:" << http_port_ << "\"\n"
        << "  log-enabled = false\n  max-row-limit = 0\n"
        << "[monitor]\n  store-enabled = false\n"
        << "[continuous_queries]\n  enabled = false\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string log = d + "/influxd.log";
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "a", stderr);
      const std::string conf = d + "/influxdb.conf";
      ::execl(kInfluxd, kInfluxd, "run", "-config", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Http(http_port_, "GET /ping").first == 204) {
        ready_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ~InfluxServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  bool ready() const { return ready_; }
  std::uint16_t port() const { return http_port_; }

 private:
  std::uint16_t http_port_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST_F(ArchiveToolTest, TheSamplePassThroughLineProtocolIntoInfluxDb) {
  if (::access(kInfluxd, X_OK) != 0) GTEST_SKIP() << kInfluxd << " is not installed";
  const std::string pass = ZEVRIN_SAMPLE_PASS;
  const ToolRun lines = RunTool("--format influx --station Lab " + pass, dir_);
  ASSERT_EQ(lines.status, 0) << lines.err;
  const std::vector<std::string> csv = Lines(RunTool("--format csv " + pass, dir_).out);
  ASSERT_GT(csv.size(), 100u);
  const std::vector<std::string> header = Split(csv[0]);
  const auto volts_at =
      std::find(header.begin(), header.end(), "18 Battery Volts [V]") - header.begin();
  std::vector<double> csv_volts;
  for (std::size_t r = 1; r < csv.size(); ++r) {
    const std::vector<std::string> cells = Split(csv[r]);
    if (cells[1] == "power")
      csv_volts.push_back(std::stod(cells[static_cast<std::size_t>(volts_at)]));
  }

  testing::TempDir server_dir("influxdb");
  InfluxServer server(server_dir);
  ASSERT_TRUE(server.ready()) << server_dir.Contents("influxd.log");
  ASSERT_EQ(Http(server.port(), "POST /query?q=" + UrlEncode("CREATE DATABASE zevrin")).first, 200);
  const auto written = Http(server.port(), "POST /write?db=zevrin", lines.out);
  ASSERT_EQ(written.first, 204) << written.second;

  const auto query = [&](const std::string& q) {
    const auto reply = Http(server.port(), "GET /query?db=zevrin&epoch=ms&q=" + UrlEncode(q));
    EXPECT_EQ(reply.first, 200) << reply.second;
    return Json::parse(reply.second)["results"][0]["series"][0]["values"];
  };
  const Json volts = query("SELECT battery_volts FROM power_housekeeping WHERE station = 'Lab'");
  const Json system = query("SELECT count(rtc_temp_c) FROM system_housekeeping");
  std::vector<double> influx_volts;
  for (const Json& point : volts) influx_volts.push_back(point[1].get<double>());
  EXPECT_EQ(influx_volts, csv_volts);
  EXPECT_EQ(influx_volts.size() + system[0][1].get<std::size_t>(), csv.size() - 1);
}

}  // namespace
}  // namespace zevrin
