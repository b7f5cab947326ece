// The alarm rules: what a bad line is told as, and the events every kind of rule
// gives on a sequence of records, frames and ticks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "alarms/alarm_evaluator.h"
#include "frames/frame_header.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr char kGood[] = "battery_volts < 3.3 : watch\n";

// Each bad line is told with its file and line, and the good rule before it stays.
TEST(AlarmRulesTest, ABadLineIsToldWithItsLineAndTheOtherRulesApply) {
  const struct {
    std::string line, error;
  } cases[] = {
      {"batery_volts < 3 : watch", "unknown value 'batery_volts'"},
      {"power_level < 3 : watch", "'power_level' is a text, not a number"},
      {"battery_volts < 3", "expected ':' and a severity, not the end of the line"},
      {"battery_volts < 3 : urgent",
       "expected the severity watch, warning or critical, not 'urgent'"},
      {"battery_volts < : watch", "expected a number after '<', not ':'"},
      {"battery_volts = 3 : watch", "unexpected '='"},
      {"battery_volts \xff", "unexpected byte 0xFF"},
      {"battery_temp_c outside -10 45 : watch", "expected '..' after the lower limit, not '45'"},
      {"battery_temp_c inside 45 .. -10 : watch", "the lower limit is above the upper one"},
      {"battery_volts < 3 for 0 records : watch",
       "'for' takes a whole number of records from 1 to 100000"},
      {"battery_volts < 3 for 2 : watch", "expected 'record' after the number of records, not ':'"},
      {"battery_volts < 3 clear > 3.1 clear > 3.2 : watch", "a second 'clear' in one rule"},
      {"reset_count increases clear < 3 : watch",
       "only a value or a rate takes a 'clear' condition"},
      {"rate(battery_volts) > 1 : watch", "expected 'per' after the limit of a rate, not ':'"},
      {"no satellite frame for 3 weeks : watch",
       "expected s, min, h or d after the number, not 'weeks'"},
      {"no satellite frame for 400 d : watch", "a silence lasts 1 ms to 366 days"},
      {"battery_volts < 3 : watch \"low", "the message has no closing '\"'"},
      {"battery_volts < 3 : watch \"\x1b[2J\"", "a message holds only printable ASCII characters"},
      {"battery_volts < 3 : watch \"low\" now", "expected the end of the rule, not 'now'"},
      {"battery_volts < 1" + std::string(400, '0') + " : watch", "a number is too large"},
      {std::string(1025, ' '), "longer than 1024 bytes; left out"},
      {"notify ftp://u:secret@h/t", "not an http(s) address: ftp://u:***@h/t"},
      {"notify https://h/t now", "more than an address after 'notify'"},
  };
  for (const auto& c : cases) {
    const AlarmRules rules = ParseAlarmRules(kGood + c.line + "\n# end\n", "a.ini");
    EXPECT_THAT(rules.errors, ElementsAre("a.ini:2: " + c.error)) << c.line;
    EXPECT_EQ(rules.rules.size(), 1u) << c.line;
    EXPECT_THAT(rules.values, ElementsAre("battery_volts")) << c.line;  // none of the bad rule's
  }
  EXPECT_TRUE(DefaultAlarmRules().errors.empty());
}

// The rule count and the file's size are bounded; a file that cannot be read is
// no rules at all rather than none of them.
TEST(AlarmRulesTest, TheReaderTakesAtMostItsLimits) {
  std::string many;
  for (std::size_t i = 0; i <= kAlarmRulesMax; ++i) many += kGood;
  const AlarmRules capped = ParseAlarmRules(many + kGood, "m.ini");
  EXPECT_EQ(capped.rules.size(), kAlarmRulesMax);
  EXPECT_THAT(capped.errors, ElementsAre("m.ini:257: more than 256 rules; this one and those "
                                         "after it are left out"));

  testing::TempDir dir("alarm-rules");
  const std::string comment = "# " + std::string(98, '.') + "\n";  // 101 bytes a line
  std::string big = kGood;
  while (big.size() <= kAlarmRulesBytesMax) big += comment;
  dir.Write("big.ini", big);
  const std::optional<AlarmRules> read = ReadAlarmRules((dir / "big.ini").string());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->rules.size(), 1u);
  const auto cut_line = std::ranges::count(big.substr(0, kAlarmRulesBytesMax), '\n') + 1;
  EXPECT_THAT(read->errors,
              ElementsAre((dir / "big.ini").string() + ":" + std::to_string(cut_line) +
                          ": only the first 65536 bytes are read; this line and "
                          "those after it are left out"));
  EXPECT_FALSE(ReadAlarmRules((dir / "none.ini").string()));
  EXPECT_FALSE(ReadAlarmRules(dir.string()));

  // Found like the settings file: the working directory's, else the user's.
  const PlaceEnvironment env{(dir / "home").string(), "", ""};
  std::filesystem::create_directories(dir / "home/.config/zevrinkiss");
  std::filesystem::create_directories(dir / "work");
  EXPECT_EQ(FindAlarmRules((dir / "work").string(), env), "");
  for (const char* file :
       {"home/.config/zevrinkiss/zevrinkiss-alarms.ini", "work/zevrinkiss-alarms.ini"}) {
    dir.Write(file, kGood);
    EXPECT_EQ(FindAlarmRules((dir / "work").string(), env), (dir / file).string());
  }
}

// ---------------------------------------------------------------------------
// Evaluation: each step is a frame, a tick or an acknowledgement at a time in
// seconds; each event is written "raised 0 at 60 = 3.4" (rule 0, 60 s).

struct Recorder final : AlarmListener {
  void AlarmChanged(const AlarmEvent& e) override {
    constexpr const char* kChanges[] = {"raised", "cleared", "acknowledged"};
    char text[128];
    std::snprintf(text, sizeof text, "%s %zu at %g", kChanges[static_cast<int>(e.change)],
                  e.rule_index, static_cast<double>(e.time_ms) / 1000);
    events.push_back(text + (e.has_value ? " = " + Value(e.value) : ""));
    // The frame that caused it, by which it is found again.
    if (!e.frame_bytes.empty()) {
      EXPECT_EQ(e.frame_received_ms, e.time_ms);
    }
  }
  static std::string Value(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }
  std::vector<std::string> events;
};

// Steps: "p NAME=TEXT ..." a power record, "s ..." a system record, "f" a frame of
// the satellite without a record, "o" another station's frame, "up"/"down" a
// tick, "ack N" an acknowledgement of rule N. Each frame writes a store of its
// own, or one `kept` store that keeps a text it holds already, as the decoder does.
void Apply(AlarmEvaluator& evaluator, std::int64_t ms, const std::string& step,
           DisplayFields* kept) {
  std::istringstream in(step);
  std::string kind;
  in >> kind;
  if (kind == "up" || kind == "down") return evaluator.Tick(ms, kind == "up");
  if (kind == "ack") {
    std::size_t rule = 0;
    in >> rule;
    evaluator.Acknowledge(rule, ms);
    return;
  }
  DisplayFields own;
  DisplayFields& fields = kept != nullptr ? *kept : own;
  fields.BeginFrame();
  const RecordKind record = kind == "p"   ? RecordKind::kPower
                            : kind == "s" ? RecordKind::kSystem
                                          : RecordKind::kNone;
  for (std::string pair; in >> pair;) {
    const std::string name = pair.substr(0, pair.find('='));
    for (const ArchiveColumn* c : RecordColumns(record)) {
      if (c->name != name) continue;
      const std::string text = pair.substr(name.size() + 1);
      if (kept != nullptr && fields.Field(c->index) == text) {
        fields.KeepField(c->index);
      } else {
        fields.WriteField(c->index, text);
      }
    }
  }
  const std::uint8_t bytes[] = {0xC0, 0x00, 0xC0};
  DecodedFrame frame;
  frame.bytes = bytes;
  frame.received_ms = ms;
  frame.from_satellite = kind != "o";
  frame.record = record;
  frame.fields = &fields;
  evaluator.FrameDecoded(frame);
}

TEST(AlarmEvaluatorTest, EveryKindOfRuleRaisesAndClearsWhenItShould) {
  const struct {
    std::string rules;
    std::string steps;  // "SECONDS STEP; ..."
    std::vector<std::string> events;
  } cases[] = {
      // Persistence: three records in a row carrying the value; a system record
      // (without it) does not break the row, a record above it does.
      {"battery_volts < 3.5 for 3 records : warning",
       "1 p battery_volts=3.4; 2 p battery_volts=3.4; 3 p battery_volts=3.6; 4 p "
       "battery_volts=3.4; 5 p battery_volts=3.4; 6 s rtc_temp_c=20; 7 p battery_volts=3.4; 8 p "
       "battery_volts=3.5",
       {"raised 0 at 7 = 3.4", "cleared 0 at 8 = 3.5"}},
      // A limit from another value, as it changes, with a clear above it; the sum
      // 3.33 + 0.05 is met by 3.38.
      {"Battery_Volts BELOW emergency_threshold_volts clear >= emergency_threshold_volts + 0.05"
       " : CRITICAL",
       "1 p battery_volts=3.30 emergency_threshold_volts=3.33; 2 p battery_volts=3.35 "
       "emergency_threshold_volts=3.33; 3 p battery_volts=3.38 emergency_threshold_volts=3.33; 4 p "
       "battery_volts=3.38 emergency_threshold_volts=3.40",
       {"raised 0 at 1 = 3.3", "cleared 0 at 3 = 3.38", "raised 0 at 4 = 3.38"}},
      // Each record counts once, however many of the rule's values it changed.
      {"battery_volts < emergency_threshold_volts for 2 records : watch",
       "1 p battery_volts=3.30 emergency_threshold_volts=3.33; 2 p battery_volts=3.31 "
       "emergency_threshold_volts=3.33",
       {"raised 0 at 2 = 3.31"}},
      // A value at a limit, and a limit from the other record that moves; a
      // record without the value leaves the rule waiting for one with it.
      {"battery_volts <= 3.5 : watch",
       "1 p battery_volts=3.6; 2 p battery_volts=3.5; 3 p battery_volts=3.6; 4 p "
       "battery_volts=3.7; 5 p battery_volts=3.5",
       {"raised 0 at 2 = 3.5", "cleared 0 at 3 = 3.6", "raised 0 at 5 = 3.5"}},
      {"battery_temp_c inside 0 .. rtc_temp_c : watch",
       "1 s rtc_temp_c=30; 2 p battery_temp_c=20; 3 s rtc_temp_c=10; 3.5 p reset_count=1; 4 p "
       "battery_temp_c=20",
       {"raised 0 at 2 = 20", "cleared 0 at 4 = 20"}},
      // A limit that is another rule's value: every change of it reaches the rule
      // that takes it, however the other rule has settled.
      {"battery_temp_c inside 0 .. rtc_temp_c : watch\nrtc_temp_c > 40 : watch",
       "1 s rtc_temp_c=30; 2 p battery_temp_c=20; 3 s rtc_temp_c=45; 4 p battery_temp_c=20; 5 s "
       "rtc_temp_c=35; 6 p battery_temp_c=20; 7 s rtc_temp_c=10; 8 p battery_temp_c=20",
       {"raised 0 at 2 = 20", "raised 1 at 3 = 45", "cleared 1 at 5 = 35", "cleared 0 at 8 = 20"}},
      // A limit that no record has carried yet raises nothing; one from the other
      // record counts once known.
      {"battery_temp_c > rtc_temp_c + 20 : watch",
       "1 p battery_temp_c=50; 2 s rtc_temp_c=25; 3 p battery_temp_c=50; 4 p battery_temp_c=45",
       {"raised 0 at 3 = 50", "cleared 0 at 4 = 45"}},
      // A range with a narrower range that clears it, both ends included.
      {"battery_temp_c outside -10 .. 45 clear battery_temp_c inside -8 .. 43 : warning",
       "1 p battery_temp_c=20; 2 p battery_temp_c=46; 3 p battery_temp_c=44; 4 p "
       "battery_temp_c=43; 5 p battery_temp_c=-11; 6 p battery_temp_c=-9; 7 p battery_temp_c=-8",
       {"raised 0 at 2 = 46", "cleared 0 at 4 = 43", "raised 0 at 5 = -11", "cleared 0 at 7 = -8"}},
      // A rate from each two records of the value, per minute; a clear per hour.
      {"rate(panel_minus_z_temp_c) > 5 per min clear < 120 per h : watch",
       "0 s panel_minus_z_temp_c=10; 60 s panel_minus_z_temp_c=14; 90 s panel_minus_z_temp_c=17; "
       "150 s panel_minus_z_temp_c=20; 210 s panel_minus_z_temp_c=21",
       {"raised 0 at 90 = 6", "cleared 0 at 210 = 1"}},
      // A calm value that jumps: its rate is judged at the record it changed in.
      {"rate(rtc_temp_c) > 5 per min : watch",
       "0 s rtc_temp_c=10; 60 s rtc_temp_c=11; 120 s rtc_temp_c=20; 180 s rtc_temp_c=20",
       {"raised 0 at 120 = 9", "cleared 0 at 180 = 0"}},
      // A value that stays the same moves at a rate of 0.
      {"rate(rtc_temp_c) > 5 per min for 2 records : watch",
       "0 s rtc_temp_c=10; 60 s rtc_temp_c=16; 120 s rtc_temp_c=22; 180 s rtc_temp_c=22",
       {"raised 0 at 120 = 6", "cleared 0 at 180 = 0"}},
      // A counter that grows; the wrap of a byte is no increase. The first two
      // texts are too long to be kept.
      {"reset_count increases : warning \"Spacecraft reset\"",
       "0 p reset_count=10000000000000000; 0.5 p reset_count=20000000000000000; 1 p "
       "reset_count=12; 2 p reset_count=13; 3 p reset_count=13; 4 p reset_count=0; 5 p "
       "reset_count=1",
       {"raised 0 at 0.5 = 2e+16", "cleared 0 at 1 = 12", "raised 0 at 2 = 13",
        "cleared 0 at 3 = 13", "raised 0 at 5 = 1"}},
      // Silence in a replay: raised when it ran out, seen at the next frame of
      // anyone, cleared by the satellite's next frame only.
      {"no satellite frame for 90 min : warning",
       "0 f; 6000 o; 7200 f; 9000 o; 13000 o",
       {"raised 0 at 5400 = 90", "cleared 0 at 7200 = 120", "raised 0 at 12600 = 90"}},
      // Live: only time with the link up counts; acknowledged once.
      {"no satellite frame for 10 min while link up : warning",
       "0 up; 60 f; 300 down; 480 up; 1070 up; 1080 up; 1100 ack 0; 1110 ack 0; 1200 f; 1210 ack 0",
       {"raised 0 at 1080 = 10", "acknowledged 0 at 1100", "cleared 0 at 1200 = 12"}},
      // Without "while link up" the time counts with the link down too; with it,
      // from the moment the link comes up.
      {"no satellite frame for 5 min : watch\nno satellite frame for 5 min while link up : watch",
       "0 down; 299 down; 300 down; 360 up; 659 up; 660 up",
       {"raised 0 at 300 = 5", "raised 1 at 660 = 5"}},
  };
  for (const auto& c : cases) {
    const AlarmRules rules = ParseAlarmRules(c.rules, "t.ini");
    ASSERT_THAT(rules.errors, ElementsAre()) << c.rules;
    for (const bool keep : {false, true}) {
      Recorder recorder;
      AlarmEvaluator evaluator(rules, recorder);
      DisplayFields store;
      std::istringstream steps(c.steps);
      for (std::string step; std::getline(steps, step, ';');) {
        std::istringstream in(step);
        double seconds = 0;
        in >> seconds;
        std::getline(in, step);
        Apply(evaluator, static_cast<std::int64_t>(seconds * 1000), step, keep ? &store : nullptr);
      }
      EXPECT_THAT(recorder.events, ElementsAreArray(c.events)) << c.rules << (keep ? " kept" : "");
    }
  }
}

// The decoder hands each value's number over with its text, for the rules to read
// instead of the text: it must be exactly the number the archive's column reads
// from the text, whole only where the text is. Random records of both kinds,
// through the real header and telemetry decoding.
TEST(AlarmEvaluatorTest, NumbersHandedOverAreTheNumbersOfTheTexts) {
  DisplayFields decoded;
  TelemetryDecoder decoder(decoded);
  std::mt19937 rng(7);
  int numbers = 0;
  for (int i = 0; i < 3000; ++i) {
    const bool power = i % 2 == 0;
    sample::Bytes p = sample::SatellitePayload(i, 'S', i, 0, 120);
    for (std::size_t k = 7; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(rng());
    p[6] = power ? 0x29 : 0x17;  // the layout markers at positions 25 and 89
    p[70] = power ? 0x14 : 0x40;
    UnescapedFrame unescaped;
    FrameHeader header;
    DecodeFrameHeader(sample::KissFrame(sample::SatelliteFrame(p)), unescaped, header);
    decoded.BeginFrame();
    decoder.DecodeSatelliteFrame(unescaped, header);
    for (const ArchiveColumn* c : RecordColumns(decoder.last_record())) {
      const bool gauge = c->source == ValueSource::kGauge;
      if (c->source != ValueSource::kField && !gauge) continue;
      const auto g = static_cast<Gauge>(c->index);
      const FieldNumber& n = gauge ? decoded.GaugeNumber(g) : decoded.Number(c->index);
      if (!n.known) continue;
      ++numbers;
      const ColumnValue v =
          ColumnValueOfText(*c, gauge ? decoded.GaugeText(g) : decoded.Field(c->index));
      EXPECT_EQ(v.present, c->kind == ValueKind::kReal || n.whole) << c->name;
      if (v.present) {
        EXPECT_EQ(v.is_integer ? static_cast<double>(v.integer) : v.real, n.value) << c->name;
      }
    }
  }
  EXPECT_GT(numbers, 3000 * 20);
}

}  // namespace
}  // namespace zevrin
