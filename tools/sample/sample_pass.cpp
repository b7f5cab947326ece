#include "sample/sample_pass.h"

#include <cmath>
#include <random>

#include "base/time_of_day.h"
#include "telemetry/conversions.h"

namespace zevrin::sample {

namespace {

constexpr std::uint8_t kFend = 0xC0;
constexpr std::uint8_t kFesc = 0xDB;
constexpr std::uint8_t kTfend = 0xDC;
constexpr std::uint8_t kTfesc = 0xDD;
constexpr double kPi = 3.14159265358979323846;
// A memory behind a gauge is 100 of its percents long. GPS fixes and extended
// housekeeping are written to their memories in blocks of these sizes.
constexpr auto kPercentBytes = static_cast<std::uint32_t>(kMemoryBytesPerPercent);
constexpr std::uint32_t kMemorySize = 100 * kPercentBytes;
constexpr std::uint32_t kGpsBlock = 3072;
constexpr std::uint32_t kXhkBlock = 256;
// The battery and its thresholds as the power record carries them (5 V in 255).
constexpr double kBatteryByte = 199;  // 3.90 V
constexpr int kPowersafeByte = 178;   // 3.49 V
constexpr int kEmergencyByte = 170;   // 3.33 V
// How far the battery runs down at the bottom of a dip (to 3.12 V), and the part
// of the pass on either side of the middle that the dip takes.
constexpr double kDipDepth = 40;
constexpr double kDipHalfWidth = 0.35;
enum PowerLevel : std::uint8_t { kNominal = 0, kPowersafe = 1, kEmergency = 2 };

// The pointer `block` bytes on; at the memory's end it starts again at its start.
std::uint32_t Advance(std::uint32_t pointer, std::uint32_t block, std::uint32_t base) {
  return base + (pointer - base + block) % kMemorySize;
}

void PutAddress(Bytes& out, const Address& a, bool last, bool digipeater) {
  std::string call = a.callsign.substr(0, 6);
  call.resize(6, ' ');
  for (const char c : call)
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) << 1));
  std::uint8_t ssid = static_cast<std::uint8_t>(0x60 | ((a.ssid & 0x0F) << 1) | (last ? 1 : 0));
  if (digipeater && a.repeated) ssid |= 0x80;
  out.push_back(ssid);
}

void Put16(Bytes& p, int offset, int value) {
  p[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  p[static_cast<std::size_t>(offset) + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

void Put32(Bytes& p, int offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

std::uint8_t Clamp(double v) {
  return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

// The state of the simulated satellite, advanced a little with every frame.
struct Satellite {
  int frame_number = 4711;
  int counter = 0;
  int packets_in = 120, packets_out = 3400, resend_act = 7, resend_stop = 1;
  int softstarts = 3, resets = 12;
  int powersafes = 1, emergencies = 0;
  std::uint8_t power_level = kNominal;
  std::uint32_t gps_pointer = kGpsMemoryBase + kPercentBytes * 12;
  std::uint32_t xhk_pointer = kXhkMemoryBase + kPercentBytes * 40;
  int image_counter = 17;
  int nofix = 2, mode_loop = 90;
};

// The power level the battery's byte calls for, counting each entry into a
// lower level as the satellite does.
void FollowBattery(Satellite& s, std::uint8_t battery) {
  const std::uint8_t level = battery < kEmergencyByte   ? kEmergency
                             : battery < kPowersafeByte ? kPowersafe
                                                        : kNominal;
  if (level > s.power_level) (level == kEmergency ? s.emergencies : s.powersafes) += 1;
  s.power_level = level;
}

// `drain`: how many of its bytes the battery has run down.
Bytes PowerRecord(Satellite& s, double phase, double drain, std::mt19937& rng) {
  Bytes p = SatellitePayload(s.frame_number, 'S', s.counter, 0x0100, 100);
  std::normal_distribution<double> noise(0.0, 1.0);
  p[6] = 0x29;
  p[7] = 0;  // nominal
  p[8] = static_cast<std::uint8_t>(s.softstarts);
  p[9] = static_cast<std::uint8_t>(s.resets);
  const double sun = std::fmax(0.0, std::sin(phase));
  for (int side = 0; side < 5; ++side) {
    // A lit panel holds its voltage near 4.5 V; its current follows the angle to the sun.
    const double lit = std::fmax(0.0, std::cos(phase * 5.0 + side * 1.3)) * sun;
    const double volts = sun > 0.05 ? 200 + 30 * lit : 8;
    p[static_cast<std::size_t>(17 + 2 * side)] = Clamp(volts + noise(rng));
    p[static_cast<std::size_t>(18 + 2 * side)] = Clamp(1 + 70 * lit + noise(rng));
  }
  p[27] = Clamp(kBatteryByte + 4 * sun - drain + noise(rng) * 0.3);
  FollowBattery(s, p[27]);
  p[10] = s.power_level;
  p[11] = static_cast<std::uint8_t>(s.powersafes);
  p[12] = static_cast<std::uint8_t>(s.emergencies);
  p[28] = Clamp(40 + 30 * sun + noise(rng));
  p[29] = Clamp(35 + noise(rng));
  p[30] = Clamp(22 + noise(rng));
  p[31] = Clamp(15 + noise(rng));
  const bool heater = sun < 0.05;
  p[32] = heater ? 1 : 0;
  p[33] = 5;
  p[34] = heater ? Clamp(40 + noise(rng)) : 0;
  for (int t = 0; t < 7; ++t) {
    const double c = 12 + 10 * sun + 2 * t + noise(rng) * 0.5;
    p[static_cast<std::size_t>(35 + t)] =
        static_cast<std::uint8_t>(static_cast<int>(std::lround(c)) & 0xFF);
  }
  p[42] = 200;  // heater on  -56
  p[43] = 200;  // heater off -56
  p[44] = kPowersafeByte;
  p[45] = kEmergencyByte + (s.counter % 37 == 5 ? 1 : 0);  // now and then off its reference
  p[70] = 0x14;
  p[71] = 0;
  const int counters[] = {s.packets_in, s.packets_out, s.resend_act, s.resend_stop};
  for (int i = 0; i < 4; ++i) {
    p[static_cast<std::size_t>(80 + 2 * i)] = static_cast<std::uint8_t>(counters[i] & 0xFF);
    p[static_cast<std::size_t>(81 + 2 * i)] = static_cast<std::uint8_t>((counters[i] >> 8) & 0xFF);
  }
  return p;
}

Bytes SystemRecord(Satellite& s, std::int64_t now, double phase, std::mt19937& rng) {
  Bytes p = SatellitePayload(s.frame_number, 'S', s.counter, 0x0100, 110);
  std::normal_distribution<double> noise(0.0, 1.0);
  p[6] = 0x17;
  for (int i = 7; i <= 11; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 3);
  Put16(p, 12, static_cast<int>(now % 65536));
  const CivilTime t = ToCivil(now);
  const int weekday = static_cast<int>(((now / 86400) + 3) % 7) + 1;  // 1970-01-01 was a Thursday
  p[14] = static_cast<std::uint8_t>(t.second);
  p[15] = static_cast<std::uint8_t>(t.minute);
  p[16] = static_cast<std::uint8_t>(t.hour);
  p[17] = static_cast<std::uint8_t>(weekday);
  p[18] = static_cast<std::uint8_t>(t.day);
  p[19] = static_cast<std::uint8_t>(t.month);
  p[20] = static_cast<std::uint8_t>(t.year % 100);
  p[21] = static_cast<std::uint8_t>(static_cast<int>(std::lround(18 + 3 * std::sin(phase))) & 0xFF);
  Put16(p, 22, 300 + s.counter);
  Put16(p, 24, 1200 + 2 * s.counter);
  Put16(p, 26, 50 + s.counter / 3);
  p[28] = static_cast<std::uint8_t>(s.image_counter);
  p[70] = 0x40;
  const std::uint8_t modes[] = {3, 4, 4, 6, 4, 3, 7};
  p[71] = modes[(s.counter / 16) % 7];
  p[73] = 0xC3;                                               // system status
  p[74] = 0xBD;                                               // resources
  p[75] = static_cast<std::uint8_t>(0xC0 | (s.counter % 4));  // magnetometer
  p[76] = std::sin(phase) > 0 ? 0x9F : 0x0F;                  // sun sensor status
  p[77] = 0x1F;                                               // sun sensor configuration
  p[78] = static_cast<std::uint8_t>(0x82 | (std::sin(phase) > 0.3 ? 0x20 : 0));
  const double panels[] = {
      std::sin(phase), std::cos(phase), -std::sin(phase), -std::cos(phase), 0.2, 0.1};
  for (int i = 0; i < 6; ++i) {
    const int half_degrees =
        static_cast<int>(std::lround(2 * (10 + 35 * panels[i] + noise(rng) * 0.3)));
    Put16(p, 79 + 2 * i, half_degrees & 0xFFFF);
  }
  Put32(p, 91, s.gps_pointer);
  Put32(p, 95, s.xhk_pointer);
  p[99] = static_cast<std::uint8_t>(s.nofix);
  p[100] = static_cast<std::uint8_t>(s.mode_loop & 0xFF);
  return p;
}

}  // namespace

Bytes EncodeAx25(const Ax25Frame& frame) {
  Bytes out;
  out.reserve(20 + frame.payload.size() + 7 * frame.digipeaters.size());
  PutAddress(out, frame.destination, false, false);
  PutAddress(out, frame.source, frame.digipeaters.empty(), false);
  for (std::size_t i = 0; i < frame.digipeaters.size(); ++i) {
    PutAddress(out, frame.digipeaters[i], i + 1 == frame.digipeaters.size(), true);
  }
  out.push_back(frame.control);
  if (frame.pid >= 0) out.push_back(static_cast<std::uint8_t>(frame.pid));
  out.insert(out.end(), frame.payload.begin(), frame.payload.end());
  return out;
}

Bytes KissFrame(std::uint8_t command, const Bytes& body) {
  Bytes out;
  out.reserve(body.size() + 8);
  out.push_back(kFend);
  auto put = [&out](std::uint8_t b) {
    if (b == kFend) {
      out.push_back(kFesc);
      out.push_back(kTfend);
    } else if (b == kFesc) {
      out.push_back(kFesc);
      out.push_back(kTfesc);
    } else {
      out.push_back(b);
    }
  };
  put(command);
  for (const std::uint8_t b : body) put(b);
  out.push_back(kFend);
  return out;
}

Bytes KissFrame(const Ax25Frame& frame) { return KissFrame(frame.command, EncodeAx25(frame)); }

Bytes SatellitePayload(int frame_number, char type, int counter, int header_word, int size) {
  Bytes p(static_cast<std::size_t>(size < 7 ? 7 : size), 0);
  Put16(p, 0, frame_number & 0xFFFF);
  p[2] = static_cast<std::uint8_t>(type);
  p[3] = static_cast<std::uint8_t>(counter & 0xFF);
  Put16(p, 4, header_word & 0xFFFF);
  return p;
}

Ax25Frame SatelliteFrame(Bytes payload) {
  Ax25Frame f;
  f.destination = {"QQ0GND", 0, false};
  f.source = {"QQ0SAT", 0, false};
  f.payload = std::move(payload);
  return f;
}

namespace {

// The `i`th frame of the pass when it comes from other stations: a beacon for
// kinds 75 to 89, a frame of a connected-mode exchange for 90 to 94.
Bytes OtherStationFrame(int kind, int i) {
  Ax25Frame f;
  if (kind < 90) {
    f.destination = {"QQ0BCN", 0, false};
    f.source = {"QQ2XYZ", 7, false};
    if (kind % 2 == 0) f.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 1, false}};
    const std::string text = "=4807.38N/01131.00E-ground station beacon #" + std::to_string(i);
    f.payload.assign(text.begin(), text.end());
    return KissFrame(f);
  }
  f.destination = {"QQ3ABC", 0, false};
  f.source = {"QQ4DEF", 2, false};
  const std::uint8_t controls[] = {0x3F, 0x73, 0x20, 0x31, 0x53, 0x0F};
  f.control = controls[i % 6];
  f.pid = (f.control & 1) == 0 ? 0xF0 : -1;
  if (f.pid >= 0) f.payload = {'h', 'e', 'l', 'l', 'o', 0xC0, 0xDB, '\r'};
  return KissFrame(f);
}

}  // namespace

Bytes MakePass(const PassOptions& options) {
  std::mt19937 rng(options.seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> percent(0, 99);
  Satellite s;
  // A TNC still in command mode says a few words before KISS frames arrive.
  Bytes out = {'c', 'm', 'd', ':'};

  std::int64_t now = options.start_time;
  for (int i = 0; i < options.frames; ++i) {
    // Start in sunlight, a little past the terminator.
    const double phase = 0.8 + 2 * kPi * i / (options.frames > 0 ? options.frames : 1);
    now += 1 + (percent(rng) < 30 ? 1 : 0);
    const int kind = percent(rng);
    Bytes frame;
    if (kind < 25) {
      const double from_middle = std::fabs(static_cast<double>(i) / options.frames - 0.5);
      const double drain =
          options.battery_dip ? kDipDepth * std::fmax(0.0, 1 - from_middle / kDipHalfWidth) : 0;
      frame = KissFrame(SatelliteFrame(PowerRecord(s, phase, drain, rng)));
    } else if (kind < 50) {
      frame = KissFrame(SatelliteFrame(SystemRecord(s, now, phase, rng)));
      if (percent(rng) < 20) s.gps_pointer = Advance(s.gps_pointer, kGpsBlock, kGpsMemoryBase);
      s.xhk_pointer = Advance(s.xhk_pointer, kXhkBlock, kXhkMemoryBase);
      if (percent(rng) < 10) ++s.nofix;
      ++s.mode_loop;
    } else if (kind < 65) {
      Bytes p = SatellitePayload(s.frame_number, 'I', s.counter, s.image_counter, 200);
      for (std::size_t k = 6; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(byte(rng));
      frame = KissFrame(SatelliteFrame(p));
    } else if (kind < 75) {
      Bytes p = SatellitePayload(s.frame_number, "GAM"[i % 3], s.counter, 0, 64);
      for (std::size_t k = 6; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(byte(rng));
      frame = KissFrame(SatelliteFrame(p));
    } else if (kind < 95) {
      frame = OtherStationFrame(kind, i);
    } else {
      // The satellite's frame as a SMACK frame, its two CRC bytes included.
      Ax25Frame f = SatelliteFrame(SatellitePayload(s.frame_number, 'S', s.counter, 0x0100, 20));
      f.command = 0x80;
      f.payload.push_back(static_cast<std::uint8_t>(byte(rng)));
      f.payload.push_back(static_cast<std::uint8_t>(byte(rng)));
      frame = KissFrame(f);
    }
    out.insert(out.end(), frame.begin(), frame.end());
    s.frame_number = (s.frame_number + 1) & 0xFFFF;
    s.counter = (s.counter + 1) & 0xFF;
    if (percent(rng) < 40) ++s.packets_in;
    ++s.packets_out;
  }
  return out;
}

}  // namespace zevrin::sample
