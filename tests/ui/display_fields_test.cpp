#include "ui/display_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zevrin {
namespace {

TEST(DisplayFieldsTable, CaptionsUnitsAndPlaces) {
  const auto& table = DisplayFieldTable();
  EXPECT_EQ(table[5].caption, "Emercency Count");  // the program's own spelling
  EXPECT_EQ(table[44].group, FieldGroup::kThresholds);
  EXPECT_EQ(table[91].group, FieldGroup::kHidden);
  // No two visible fields share a place.
  for (int i = 0; i < kDisplayFieldCount; ++i) {
    for (int j = i + 1; j < kDisplayFieldCount; ++j) {
      const FieldInfo& a = table[i];
      const FieldInfo& b = table[j];
      if (a.group == FieldGroup::kHidden || a.group == FieldGroup::kCom) continue;
      EXPECT_FALSE(a.group == b.group && a.column == b.column && a.row == b.row) << i << " " << j;
    }
  }
  // The tool's JSON keys are a contract with its readers.
  EXPECT_EQ(BoxTable()[static_cast<int>(Box::kSatelliteTime)].json_key, "satellite_time");
  EXPECT_EQ(GaugeTable()[static_cast<int>(Gauge::kXhk)].json_key, "xhk");
  EXPECT_EQ(FieldColourRgb(FieldColour::kGreen), kThresholdGreen);
  EXPECT_FALSE(FieldColourRgb(FieldColour::kNormal).has_value());
}

TEST(DisplayFields, JournalListsEachTargetOnceInOrder) {
  DisplayFields store;
  store.WriteField(91, "a");
  store.WriteField(0, "b");
  store.WriteField(91, "c");
  store.SetFieldColour(43, FieldColour::kGreen);
  store.SetFieldColour(41, FieldColour::kRed);
  store.SetFieldColour(43, FieldColour::kRed);
  store.WriteBox(Box::kHeaderWord, "1");
  store.WriteBox(Box::kSatelliteTime, "2");
  store.WriteBox(Box::kHeaderWord, "3");
  store.WriteGauge(Gauge::kXhk, "0%");
  EXPECT_EQ(store.Writes().fields, (std::vector<int>{91, 0}));
  EXPECT_EQ(store.Writes().coloured, (std::vector<int>{43, 41}));
  EXPECT_EQ(store.Writes().boxes, (std::vector<Box>{Box::kHeaderWord, Box::kSatelliteTime}));
  EXPECT_EQ(store.Writes().gauges, std::vector<Gauge>{Gauge::kXhk});
  EXPECT_EQ(store.Field(91), "c");
  EXPECT_EQ(store.Colour(43), FieldColour::kRed);
  EXPECT_EQ(store.BoxText(Box::kHeaderWord), "3");

  // A new frame starts an empty journal; texts stay.
  store.BeginFrame();
  EXPECT_TRUE(store.Writes().boxes.empty());
  store.WriteField(91, "d");
  EXPECT_EQ(store.Writes().fields, std::vector<int>{91});
  EXPECT_EQ(store.Field(0), "b");
  EXPECT_EQ(store.GaugeText(Gauge::kXhk), "0%");
}

class Recorder : public DisplayFieldsObserver {
 public:
  void FieldWritten(int index) override { Add('F', index); }
  void FieldColoured(int index) override { Add('C', index); }
  void BoxWritten(Box box) override { Add('B', static_cast<int>(box)); }
  void GaugeWritten(Gauge gauge) override { Add('G', static_cast<int>(gauge)); }
  std::vector<std::string> events;

 private:
  void Add(char kind, int index) {
    events.push_back(std::string(1, kind).append(std::to_string(index)));
  }
};

TEST(DisplayFields, ObserverHearsEveryValidWriteAndClear) {
  DisplayFields store;
  Recorder recorder;
  store.SetObserver(&recorder);
  store.WriteField(5, "x");
  store.SetFieldColour(41, FieldColour::kGreen);
  store.WriteBox(Box::kCounter, "7");
  store.WriteGauge(Gauge::kGps, "1%");
  // Writes out of range are ignored: not stored, not journalled, not reported.
  store.WriteField(-1, "x");
  store.WriteField(kDisplayFieldCount, "x");
  store.SetFieldColour(kDisplayFieldCount, FieldColour::kRed);
  store.WriteBox(static_cast<Box>(kBoxCount), "x");
  store.WriteGauge(static_cast<Gauge>(-1), "x");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"F5", "C41", "B4", "G0"}));
  EXPECT_EQ(store.Writes().fields, std::vector<int>{5});
  EXPECT_EQ(store.Writes().boxes, std::vector<Box>{Box::kCounter});
  EXPECT_EQ(store.Field(-1), "");
  EXPECT_EQ(store.Field(kDisplayFieldCount), "");
  EXPECT_EQ(store.Colour(kDisplayFieldCount), FieldColour::kNormal);
  EXPECT_EQ(store.BoxText(static_cast<Box>(kBoxCount)), "");

  recorder.events.clear();
  store.Clear();
  EXPECT_EQ(store.Field(5), "");
  EXPECT_EQ(store.Colour(41), FieldColour::kNormal);
  EXPECT_EQ(store.BoxText(Box::kCounter), "");
  EXPECT_EQ(store.GaugeText(Gauge::kGps), "");
  EXPECT_TRUE(store.Writes().fields.empty());
  // The mirror hears about every target, so it can empty itself too.
  const std::size_t all = 2u * kDisplayFieldCount + kBoxCount + kGaugeCount;
  EXPECT_EQ(recorder.events.size(), all);
  store.SetObserver(nullptr);
  store.WriteField(1, "y");
  EXPECT_EQ(recorder.events.size(), all);
}

}  // namespace
}  // namespace zevrin
