#include "ui/display_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zevrin {
namespace {

TEST(DisplayFieldsTable, NoTwoVisibleFieldsShareAPlace) {
  const auto& table = DisplayFieldTable();
  for (int i = 0; i < kDisplayFieldCount; ++i) {
    for (int j = i + 1; j < kDisplayFieldCount; ++j) {
      const FieldInfo& a = table[i];
      const FieldInfo& b = table[j];
      if (a.group == FieldGroup::kHidden || a.group == FieldGroup::kCom) continue;
      EXPECT_FALSE(a.group == b.group && a.column == b.column && a.row == b.row) << i << " " << j;
    }
  }
}

// The observer hears every write, as the window mirrors them; the journal lists each
// target once, in the order first written, for what the decode tool reports per frame.
TEST(DisplayFields, JournalObserverAndClear) {
  struct : DisplayFieldsObserver {
    void FieldWritten(int index) override { Add('F', index); }
    void FieldColoured(int index) override { Add('C', index); }
    void BoxWritten(Box box) override { Add('B', static_cast<int>(box)); }
    void GaugeWritten(Gauge gauge) override { Add('G', static_cast<int>(gauge)); }
    void Add(char kind, int i) { events.push_back(std::string(1, kind).append(std::to_string(i))); }
    std::vector<std::string> events;
  } observer;
  DisplayFields store;
  store.SetObserver(&observer);
  store.WriteField(91, "a");
  store.WriteField(0, "b");
  store.WriteField(91, "c");
  store.SetFieldColour(43, FieldColour::kRed);
  store.WriteBox(Box::kCounter, "7");
  store.WriteGauge(Gauge::kXhk, "0%");
  // Writes out of range are ignored: not stored, not journalled, not reported.
  store.WriteField(-1, "x");
  store.WriteField(kDisplayFieldCount, "x");
  store.SetFieldColour(kDisplayFieldCount, FieldColour::kRed);
  store.WriteBox(static_cast<Box>(kBoxCount), "x");
  store.WriteGauge(static_cast<Gauge>(-1), "x");
  EXPECT_EQ(observer.events, (std::vector<std::string>{"F91", "F0", "F91", "C43", "B4", "G1"}));
  EXPECT_EQ(store.Writes().fields, (std::vector<int>{91, 0}));
  EXPECT_EQ(store.Writes().coloured, std::vector<int>{43});
  EXPECT_EQ(store.Field(91), "c");
  EXPECT_EQ(store.Field(kDisplayFieldCount), "");
  EXPECT_EQ(store.BoxText(static_cast<Box>(kBoxCount)), "");

  store.BeginFrame();  // a new journal; the texts stay
  EXPECT_TRUE(store.Writes().fields.empty() && store.Writes().boxes.empty());
  EXPECT_EQ(store.GaugeText(Gauge::kXhk), "0%");

  // Clear empties every target and tells the window about each, so it can empty itself.
  observer.events.clear();
  store.Clear();
  EXPECT_EQ(store.Field(0) + store.BoxText(Box::kCounter) + store.GaugeText(Gauge::kXhk), "");
  EXPECT_EQ(store.Colour(43), FieldColour::kNormal);
  EXPECT_EQ(observer.events.size(), 2u * kDisplayFieldCount + kBoxCount + kGaugeCount);
}

}  // namespace
}  // namespace zevrin
