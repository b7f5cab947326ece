#include "views/status_windows.h"

namespace zevrin {

namespace {

// Status texts are eight characters, bit 7 first.
constexpr std::size_t kStatusTextLength = 8;
constexpr int kNibbleLine = 4;
constexpr std::size_t kNibbleFirstChar = 4;  // zero-based: characters 5 to 8
constexpr std::size_t kNibbleLength = 4;

constexpr std::array<std::string_view, 8> kBitCaptions = {"bit 7", "bit 6", "bit 5", "bit 4",
                                                          "bit 3", "bit 2", "bit 1", "bit 0"};
constexpr std::array<std::string_view, 8> kMagnetometerCaptions = {"bit 7", "bit 6", "bit 5",
                                                                   "bit 4", "bit 3-0"};

constexpr std::array<StatusWindowInfo, kStatusWindowCount> kWindows = {{
    {"System Status",
     "TARVELO System Status",
     69,
     382,
     221,
     8,
     0,
     kBitCaptions,
     {{
         {"bit 7 [0]: There is NO VALID TIME information",
          "bit 7 [1]: ADCS has plausible TIME information"},
         {"bit 6 [0]: There is NO VALID orbit information",
          "bit 6 [1]: ADCS has CORRECT OLE information"},
         {"bit 5 [0]: no MODE SWITCH occured (normal operation)",
          "bit 5 [1]: after the next mode loop the mode is about to changed"},
         {"bit 4 [0]: no NEW OLE arrived (normal operation)",
          "bit 4 [1]: a new OLE has been arrived the ADCS"},
         {"bit 3 [0]: no NEW TIME arrived (normal operation)",
          "bit 3 [1]: a new system time has been arrived the ADCS"},
         {"bit 2 [0]: DEBUG MODE OFF (normal operation)",
          "bit 2 [1]: the verbose data output is enabled"},
         {"bit 1 [0]: the ADCS has computed to be on the DAYSIDE",
          "bit 1 [1]: the ADCS has computed to be on the NIGHTSIDE"},
         {"bit 0 [0]: the ADCS handles the SUN SENSORS as being OFF",
          "bit 0 [1]: the ADCS handles the SUN SENSORS as being ON"},
     }}},
    {"Resource Status",
     "TARVELO Resource Status",
     70,
     431,
     213,
     8,
     0,
     kBitCaptions,
     {{
         {"bit 7 [0]: the FLASH is currently not powered",
          "bit 7 [1]: the FLASH is currently powered"},
         {"bit 6 [0]: the last SPI activity was a read access of the magnetometer XADC",
          "bit 6 [1]: the last SPI activity was a write access of the magnetometer XADC"},
         {"bit 5 [0]: the real time interrupt (RTI) is switched off",
          "bit 5 [1]: the real time interrupt (RTI) is enabled"},
         {"bit 4 [0]: the CPU is running on a bus clock of 8 MHz",
          "bit 4 [1]: the CPU is nominally running on a bus clock of 32 MHz"},
         {"bit 3 [0]: erasing the XHK memory was not successful",
          "bit 3 [1]: the XHK flash memory was last erased nominally"},
         {"bit 2 [0]: erasing the GPS memory was not successful",
          "bit 2 [1]: the GPS flash memory was last erased nominally"},
         {"bit 1 [0]: erasing the MAG memory was not successful",
          "bit 1 [1]: the MAG flash memory was last erased nominally"},
         {"bit 0 [0]: no temperature sensor is responding",
          "bit 0 [1]: at least one temperature sensor has responded"},
     }}},
    {"GPS Status",
     "TARVELO GPS Status",
     74,
     422,
     205,
     8,
     0,
     kBitCaptions,
     {{
         {"bit 7 [0]: GPS receiver is switched OFF", "bit 7 [1]: GPS receiver is switched ON"},
         {"bit 6 [0]: no fault", "bit 6 [1]: the lGPS 5V supply is fault"},
         {"bit 5 [0]: no fix", "bit 5 [1]: the GPS receiver currently has a navigation fix"},
         {"bit 4 [0]: no GPS CMDSTR error (normal operation)",
          "bit 4 [1]: both command strings (main and redundant) have been corrupted"},
         {"bit 3 [0]: no GPS CFGSTR Error (normal operation)",
          "bit 3 [1]: both config strings (main and redundant) have been corrupted"},
         {"bit 2 [0]: no GPS CONFIG Error (normal operation)",
          "bit 2 [1]: the configuration was aborted immaturely due to an error"},
         {"bit 1 [0]: no BOOT Message received since last entering the GPS mode",
          "bit 1 [1]: standard BOOT Message has been received"},
         {"bit 0 [0]: -", "bit 0 [1]: -"},
     }}},
    {"Magnetometer Status",
     "TARVELO Magentometer Status",
     71,
     429,
     164,
     5,
     0,
     kMagnetometerCaptions,
     {{
         {"bit 7 [0]: the magnetometer main supply is off",
          "bit 7 [1]: the magnetometer main 3V3 supply is on"},
         {"bit 6 [0]: the magnetometer XADC is off", "bit 6 [1]: the magnetometer XADC is on"},
         {"bit 5 [0]: the magnetometer reset supply is off; this is the case for most of the ti",
          "bit 5 [1]: the magnetometer reset supply is on"},
         {"bit 4 [0]: MAG PWR FAULT no fault",
          "bit 4 [1]: the magnetometer main 3V3 supply is faulty"},
     }}},
    {"SunSensor Config",
     "TARVELO Sunsensor Config",
     73,
     432,
     216,
     8,
     3,
     kBitCaptions,
     {{
         {"bit 7 [0]: ---", "bit 7 [0]: ---"},
         {"bit 6 [0]: ---", "bit 6 [0]: ---"},
         {"bit 5 [0]: ---", "bit 5 [0]: ---"},
         {"bit 4 [0]: Exclude the MA from vector processing",
          "bit 4 [1]: Include the master in vector processing"},
         {"bit 3 [0]: Exclude SA3 from vector processing",
          "bit 3 [1]: Include SA3 in vector processing"},
         {"bit 2 [0]: Exclude SA2 from vector processing",
          "bit 2 [1]: Include SA2 in vector processing"},
         {"bit 1 [0]: Exclude SA1 from vector processing",
          "bit 1 [1]: Include SA1 in vector processing"},
         {"bit 0 [0]: Exclude SB from vector processing",
          "bit 0 [1]: Include SB in vector processing"},
     }}},
    {"Sunsensor Status",
     "TARVELO Sunsensor Status",
     72,
     431,
     215,
     8,
     0,
     kBitCaptions,
     {{
         {"bit 7 [0]: All sensors are in low power mode",
          "bit 7 [1]: At least the master is running in normal m"},
         {"bit 6 [0]: SUN PWR FAULT no fault",
          "bit 6 [1]: the master has detected overcurrent or overtemperature"},
         {"bit 5 [0]: The last received configuration byte equals the previous configuration",
          "bit 5 [1]: A configuration change has been detected"},
         {"bit 4 [0]: The sun is not in the FOV of any sensor, no sensor has won the voting",
          "bit 4 [1]: A valid sun vector is available"},
         {"bit 3 [0]: SA3 does not respond",
          "bit 3 [1]: SA3 responds; if SA3 is excluded by configuration, this bit is immaterial"},
         {"bit 2 [0]: SA2 does not respond",
          "bit 2 [1]: SA2 responds; if SA2 is excluded by configuration, this bit is immaterial"},
         {"bit 1 [0]: SA1 does not respond",
          "bit 1 [1]: SA1 responds; if SA1 is excluded by configuration, this bit is immaterial"},
         {"bit 0 [0]: SB does not respond",
          "bit 0 [1]: SB responds; if SB is excluded by configuration, this bit is immaterial"},
     }}},
}};

bool IsBitDigit(char c) { return c == '0' || c == '1'; }

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

const StatusWindowInfo& StatusWindowData(StatusWindow window) {
  return kWindows[static_cast<std::size_t>(window)];
}

bool IsGpsAdcsMode(std::string_view adcs_mode) {
  return adcs_mode == "GPS ORB" || adcs_mode == "GPS GND";
}

StatusView RestingView(StatusWindow window) {
  const StatusWindowInfo& info = StatusWindowData(window);
  StatusView view;
  view.lines.reserve(static_cast<std::size_t>(info.line_count));
  for (int k = 0; k < info.line_count; ++k) {
    view.lines.emplace_back(info.resting[static_cast<std::size_t>(k)]);
  }
  return view;
}

StatusView TickView(StatusWindow window, std::string_view field_text, std::string_view adcs_mode,
                    const StatusView& before) {
  const StatusWindowInfo& info = StatusWindowData(window);
  StatusView view = before;
  view.digits.assign(field_text);
  // A view handed in with too few lines would otherwise be indexed past its end.
  view.lines.resize(static_cast<std::size_t>(info.line_count));
  if (IsBlank(field_text) || field_text.size() < kStatusTextLength) return view;

  const bool magnetometer = window == StatusWindow::kMagnetometer;
  const int bit_lines = magnetometer ? kNibbleLine : info.line_count;
  for (int k = 0; k < bit_lines; ++k) {
    const std::size_t line = static_cast<std::size_t>(k);
    const BitTexts& texts = info.bits[line];
    if (k < info.untested_lines) {
      view.lines[line].assign(texts.zero);
      continue;
    }
    const char c = field_text[line];
    if (!IsBitDigit(c)) continue;
    view.lines[line].assign(c == '0' ? texts.zero : texts.one);
  }

  if (magnetometer) {
    const std::string_view nibble = field_text.substr(kNibbleFirstChar, kNibbleLength);
    bool digits_only = true;
    for (const char c : nibble) digits_only = digits_only && IsBitDigit(c);
    if (digits_only) {
      std::string& line = view.lines[kNibbleLine];
      line.assign(kNibblePrefix);
      line.append(nibble);
      line.append(IsGpsAdcsMode(adcs_mode) ? kNibbleGpsSuffix : kNibbleMagSuffix);
    }
  }
  return view;
}

}  // namespace zevrin
