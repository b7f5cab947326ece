#include "status/status_windows.h"

#include <gtest/gtest.h>

#include <string>

namespace zevrin {
namespace {

constexpr StatusWindow kAll[] = {
    StatusWindow::kSystem,       StatusWindow::kResource,        StatusWindow::kGps,
    StatusWindow::kMagnetometer, StatusWindow::kSunSensorConfig, StatusWindow::kSunSensorStatus};

StatusView Tick(StatusWindow w, std::string_view text, std::string_view mode = "SAFE") {
  return TickView(w, text, mode, RestingView(w));
}

// "bit 7 [1]: " and so on: the head every bit line starts with.
std::string Head(int bit, char value) {
  std::string head = "bit ";
  return head.append(std::to_string(bit)).append(" [").append(1, value).append("]: ");
}

TEST(StatusWindows, TableAndRestingView) {
  const auto& info = StatusWindowData(StatusWindow::kMagnetometer);
  EXPECT_EQ(info.caption, "Magnetometer Status");
  EXPECT_EQ(info.title, "TARVELO Magentometer Status");
  EXPECT_EQ(info.client_height, 164);
  const int fields[] = {69, 70, 74, 71, 73, 72};
  for (int i = 0; i < kStatusWindowCount; ++i) EXPECT_EQ(StatusWindowTable()[i].field, fields[i]);

  const StatusView sys = RestingView(StatusWindow::kSystem);
  EXPECT_EQ(sys.digits, "");
  ASSERT_EQ(sys.lines.size(), 8u);
  EXPECT_EQ(sys.lines.back(), "bit 0");
  const StatusView mag = RestingView(StatusWindow::kMagnetometer);
  EXPECT_EQ(mag.lines, (std::vector<std::string>{"bit 7", "bit 6", "bit 5", "bit 4", "bit 3-0"}));
}

TEST(StatusWindows, EveryLineExplainsItsOwnBit) {
  for (const StatusWindow w : kAll) {
    const int untested = w == StatusWindow::kSunSensorConfig ? 3 : 0;
    const int bit_lines = w == StatusWindow::kMagnetometer ? 4 : 8;
    for (const char value : {'0', '1'}) {
      const StatusView view = Tick(w, std::string(8, value));
      EXPECT_EQ(view.digits, std::string(8, value));
      for (int k = 0; k < bit_lines; ++k) {
        const char shown = k < untested ? '0' : value;
        EXPECT_EQ(view.lines[k].rfind(Head(7 - k, shown), 0), 0u)
            << StatusWindowData(w).caption << " line " << k << ": " << view.lines[k];
      }
    }
  }
}

TEST(StatusWindows, LinesFollowTheExamples) {
  const StatusView sys = Tick(StatusWindow::kSystem, "10000001");
  EXPECT_EQ(sys.lines[0], "bit 7 [1]: ADCS has plausible TIME information");
  EXPECT_EQ(sys.lines[2], "bit 5 [0]: no MODE SWITCH occured (normal operation)");
  EXPECT_EQ(sys.lines[7], "bit 0 [1]: the ADCS handles the SUN SENSORS as being ON");

  const StatusView cfg = Tick(StatusWindow::kSunSensorConfig, "11111111");
  EXPECT_EQ(cfg.lines[0], "bit 7 [0]: ---");
  EXPECT_EQ(cfg.lines[3], "bit 4 [1]: Include the master in vector processing");
  EXPECT_EQ(Tick(StatusWindow::kSunSensorConfig, "00000000").lines[3],
            "bit 4 [0]: Exclude the MA from vector processing");

  EXPECT_EQ(Tick(StatusWindow::kGps, "00000001").lines[7], "bit 0 [1]: -");
  EXPECT_EQ(Tick(StatusWindow::kResource, "01000000").lines[1],
            "bit 6 [1]: the last SPI activity was a write access of the magnetometer XADC");
  EXPECT_EQ(Tick(StatusWindow::kSunSensorStatus, "10000000").lines[0],
            "bit 7 [1]: At least the master is running in normal m");
}

TEST(StatusWindows, MagnetometerNibbleLine) {
  const StatusView mag = Tick(StatusWindow::kMagnetometer, "10100011", "SAFE");
  ASSERT_EQ(mag.lines.size(), 5u);
  EXPECT_EQ(mag.lines[0], "bit 7 [1]: the magnetometer main 3V3 supply is on");
  EXPECT_EQ(mag.lines[1], "bit 6 [0]: the magnetometer XADC is off");
  EXPECT_EQ(mag.lines[4], "bit 3-0 [0011]  MAG FIELD ERRORS");
  EXPECT_EQ(Tick(StatusWindow::kMagnetometer, "00001010", "GPS ORB").lines[4],
            "bit 3-0 [1010]  VISIBLE SAT [GPS]");
  EXPECT_EQ(Tick(StatusWindow::kMagnetometer, "00001010", "GPS GND").lines[4],
            "bit 3-0 [1010]  VISIBLE SAT [GPS]");
  for (const std::string_view mode : {"GPS", "gps orb", "", "???"}) {
    EXPECT_EQ(Tick(StatusWindow::kMagnetometer, "00000000", mode).lines[4],
              "bit 3-0 [0000]  MAG FIELD ERRORS");
  }
}

TEST(StatusWindows, MalformedTextsLeaveLinesAlone) {
  const StatusView before = Tick(StatusWindow::kSystem, "11111111");
  for (const std::string_view text : {"", "        ", "0000000", "  "}) {
    const StatusView after = TickView(StatusWindow::kSystem, text, "", before);
    EXPECT_EQ(after.digits, text);
    EXPECT_EQ(after.lines, before.lines) << "'" << text << "'";
  }
  // Only the line of the bad character stays; the others follow their bits.
  const StatusView mixed = TickView(StatusWindow::kSystem, "0x00000 ", "", before);
  EXPECT_EQ(mixed.lines[0], "bit 7 [0]: There is NO VALID TIME information");
  EXPECT_EQ(mixed.lines[1], before.lines[1]);
  EXPECT_EQ(mixed.lines[7], before.lines[7]);
  EXPECT_EQ(mixed.lines[6], "bit 1 [0]: the ADCS has computed to be on the DAYSIDE");

  const StatusView mag = Tick(StatusWindow::kMagnetometer, "11110101");
  const StatusView bad_nibble = TickView(StatusWindow::kMagnetometer, "0000012x", "", mag);
  EXPECT_EQ(bad_nibble.lines[0], "bit 7 [0]: the magnetometer main supply is off");
  EXPECT_EQ(bad_nibble.lines[4], "bit 3-0 [0101]  MAG FIELD ERRORS");

  // A blank config text keeps the resting captions, the fixed lines included.
  EXPECT_EQ(Tick(StatusWindow::kSunSensorConfig, "").lines[0], "bit 7");
}

}  // namespace
}  // namespace zevrin
