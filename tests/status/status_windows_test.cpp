#include "views/status_windows.h"

#include <gtest/gtest.h>

#include <string>

namespace zevrin {
namespace {

using W = StatusWindow;

StatusView Tick(W w, std::string_view text, std::string_view mode = "SAFE") {
  return TickView(w, text, mode, RestingView(w));
}

TEST(StatusWindows, LinesFollowTheExamples) {
  const struct {
    W window;
    std::string_view text, mode;
    int line;
    std::string_view expected;
  } cases[] = {{W::kSystem, "10000001", "", 0, "bit 7 [1]: ADCS has plausible TIME information"},
               {W::kSunSensorConfig, "11111111", "", 0, "bit 7 [0]: ---"},
               {W::kSunSensorStatus, "10000000", "", 0,
                "bit 7 [1]: At least the master is running in normal m"},
               // The nibble line names visible GPS satellites only in the two GPS modes.
               {W::kMagnetometer, "10100011", "SAFE", 4, "bit 3-0 [0011]  MAG FIELD ERRORS"},
               {W::kMagnetometer, "00001010", "GPS ORB", 4, "bit 3-0 [1010]  VISIBLE SAT [GPS]"},
               {W::kMagnetometer, "00001010", "GPS GND", 4, "bit 3-0 [1010]  VISIBLE SAT [GPS]"},
               {W::kMagnetometer, "00000000", "gps orb", 4, "bit 3-0 [0000]  MAG FIELD ERRORS"}};
  for (const auto& c : cases)
    EXPECT_EQ(Tick(c.window, c.text, c.mode).lines.at(c.line), c.expected);
}

TEST(StatusWindows, MalformedTextsLeaveLinesAlone) {
  const StatusView before = Tick(W::kSystem, "11111111");
  for (const std::string_view text : {"", "        ", "0000000"}) {
    const StatusView after = TickView(W::kSystem, text, "", before);
    EXPECT_EQ(after.digits, text);
    EXPECT_EQ(after.lines, before.lines) << "'" << text << "'";
  }
  // Only the line of the bad character stays; the others follow their bits.
  const StatusView zeros = Tick(W::kSystem, "00000000");
  const StatusView mixed = TickView(W::kSystem, "0x00000 ", "", before);
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(mixed.lines[k], (k == 1 || k == 7 ? before : zeros).lines[k]) << k;
  const StatusView bad_nibble =
      TickView(W::kMagnetometer, "0000012x", "", Tick(W::kMagnetometer, "11110101"));
  EXPECT_EQ(bad_nibble.lines[4], "bit 3-0 [0101]  MAG FIELD ERRORS");
}

}  // namespace
}  // namespace zevrin
