// The history window offscreen on values held in memory: what it draws, following
// new records, zooming and panning, saving. Thinning, spans and the table's form are
// checked in the core tests; here that the window uses them. Opening it from the
// main window's fields is the station window's test.

#include "history/history_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDropEvent>
#include <QGraphicsTextItem>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <QWheelEvent>
#include <memory>

#include "support/fakes.h"
#include "support/qt_wait.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;

constexpr std::int64_t kNow = 1800000000000;  // 2027-01-15 08:00:00 UTC
constexpr std::int64_t kMinute = 60000;
constexpr TimeSpan kEver{kBeginningOfTime, kEndOfTime};

class HistoryWindowTest : public ::testing::Test {
 protected:
  HistoryWindowTest() {
    // Battery voltage and current every minute of the last hour; thresholds twice.
    for (std::int64_t t = kNow - 60 * kMinute; t < kNow; t += kMinute) {
      source_.Add(18, {t, 3.9 - static_cast<double>(kNow - t) / (600 * kMinute)});
      source_.Add(19, {t, 120 + static_cast<double>((t / kMinute) % 7)});
    }
    source_.Add(43, {kNow - 50 * kMinute, 3.45});
    source_.Add(43, {kNow - 10 * kMinute, 3.49});
    source_.Add(44, {kNow - 10 * kMinute, 3.33});
    // Two hours of this run on about 700 pixel columns: every minute's point is drawn.
    window_ = std::make_unique<HistoryWindow>(source_, clock_, kNow - 120 * kMinute);
    window_->SetRange(HistoryRange::kThisRun);
    window_->show();
    QApplication::processEvents();
  }

  std::vector<HistoryPoint> Recorded(int field, TimeSpan span = kEver) const {
    std::vector<HistoryPoint> points;
    source_.ReadSeries(field, span, points);
    return points;
  }
  void Drop(const QByteArray& field) {
    QMimeData data;
    data.setData(kDisplayFieldMimeType, field);
    const QPoint at = window_->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &drop);
  }
  QStringList AxisTitles() const {
    QStringList titles;
    for (const QAbstractAxis* axis : window_->chart_view()->chart()->axes(Qt::Vertical))
      if (axis->isVisible()) titles << axis->titleText();
    return titles;
  }
  // A text the plot writes besides its axes ("HistoryLegend", "HistoryNotice") as
  // shown, and where: empty when it shows none.
  std::string ChartText(const char* name, QRectF* at = nullptr) const {
    for (const QGraphicsItem* item : window_->chart_view()->chart()->childItems()) {
      const auto* text = qgraphicsitem_cast<const QGraphicsTextItem*>(item);
      if (text == nullptr || text->objectName() != name || !text->isVisible()) continue;
      if (at != nullptr) *at = text->mapRectToParent(text->boundingRect());
      return text->toPlainText().replace(QChar::Nbsp, QLatin1Char(' ')).toStdString();
    }
    return {};
  }

  testing::FixedClock clock_{{kNow / 1000, 0}};
  MemoryHistorySource source_{{{18, "Battery Volts", "V"},
                               {19, "Battery Curr", "mA"},
                               {24, "Heater Counter", "", true},
                               {26, "Temp Sensor 1", "°C"},
                               {43, "Powersafe Threshold", "V"},
                               {44, "Emergency Threshold", "V"}}};
  std::unique_ptr<HistoryWindow> window_;
};

// The battery voltage as recorded, with the thresholds last received as reference
// lines; more values by dropping fields and from the list, each unit on its axis.
// While the view follows its range, new records appear and the span moves with the
// time; a zoomed view keeps its span until reset.
TEST_F(HistoryWindowTest, DrawsTheRecordedValuesAndFollowsNewRecords) {
  window_->AddValue(18);
  EXPECT_EQ(window_->DrawnPoints(18), Recorded(18));
  EXPECT_EQ(window_->ThresholdLevel(43), 3.49);
  EXPECT_EQ(window_->ThresholdLevel(44), 3.33);
  Drop("19");
  Drop("7");     // no history: ignored
  Drop("junk");  // not a field number
  EXPECT_THAT(window_->ShownFields(), ElementsAre(18, 19));
  EXPECT_EQ(window_->DrawnPoints(19), Recorded(19));
  EXPECT_THAT(AxisTitles(), ElementsAre("V", "mA"));

  clock_.Set({kNow / 1000 + 30, 0});
  source_.Add(18, {kNow + 20000, 3.71});
  source_.Add(43, {kNow + 20000, 3.52});
  ASSERT_TRUE(testing::WaitFor([&] { return window_->DrawnPoints(18).size() == 61; }, 5000));
  EXPECT_EQ(window_->DrawnPoints(18).back(), (HistoryPoint{kNow + 20000, 3.71}));
  EXPECT_GT(window_->span().to_ms, kNow + 30000);
  EXPECT_EQ(window_->ThresholdLevel(43), 3.52);
  const TimeSpan zoomed{kNow - 40 * kMinute, kNow - 20 * kMinute};
  window_->SetSpan(zoomed);
  source_.Add(18, {kNow + 25000, 3.70});
  window_->Refresh();
  EXPECT_EQ(window_->span(), zoomed);
  window_->ResetView();
  EXPECT_EQ(window_->DrawnPoints(18).back(), (HistoryPoint{kNow + 25000, 3.70}));

  // The list shows what is drawn, and its check boxes remove values.
  auto* list = window_->findChild<QListWidget*>("HistoryValues");
  const auto volts = list->findItems("18 ", Qt::MatchStartsWith);
  ASSERT_EQ(volts.size(), 1);
  EXPECT_EQ(volts[0]->checkState(), Qt::Checked);
  volts[0]->setCheckState(Qt::Unchecked);
  EXPECT_THAT(window_->ShownFields(), ElementsAre(19));
  EXPECT_FALSE(window_->ThresholdLevel(43)) << "the reference lines go with the voltage";
  EXPECT_THAT(AxisTitles(), ElementsAre("mA"));
}

// A long series: drawn thinned to the plot's width, thinned again when the wheel
// zooms in; the keys pan and go back to the whole range.
TEST_F(HistoryWindowTest, ZoomAndPanRedrawTheThinnedSeries) {
  auto& series = source_.Series(26);
  for (std::int64_t i = 0; i < 200000; ++i)
    series.push_back({kNow - 200000 * 400 + i * 400, std::sin(static_cast<double>(i) / 500)});
  window_->AddValue(26);
  window_->SetRange(HistoryRange::kAll);
  QWidget* plot = window_->chart_view()->viewport();
  const QRect area = window_->chart_view()
                         ->mapFromScene(window_->chart_view()->chart()->plotArea())
                         .boundingRect();
  ASSERT_GT(area.width(), 300);
  const TimeSpan all = window_->span();
  QWheelEvent wheel(QPointF(area.center()), plot->mapToGlobal(QPointF(area.center())), {},
                    QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(plot, &wheel);
  EXPECT_NEAR(window_->span().length(), 0.8 * all.length(), 0.01 * all.length());
  EXPECT_FALSE(window_->following());

  // Drawn: the span's points thinned to the columns, and at most one beyond each edge.
  const auto drawn = window_->DrawnPoints(26);
  EXPECT_GT(drawn.size(), 100u);
  EXPECT_LE(drawn.size(), static_cast<std::size_t>(kPointsPerColumn * (area.width() + 1) + 2));
  EXPECT_GE(drawn[1].utc_ms, window_->span().from_ms);

  const TimeSpan wheeled = window_->span();
  window_->chart_view()->setFocus();
  QTest::keyClick(window_->chart_view(), Qt::Key_Right);
  EXPECT_EQ(window_->span(), PanSpan(wheeled, 0.1));
  QTest::keyClick(window_->chart_view(), Qt::Key_Home);
  EXPECT_EQ(window_->span(), all);
  EXPECT_TRUE(window_->following());
}

// A plot without values or data says so, and shows no value axis without data.
// Many values: every legend entry whole under the plot, the thresholds with their
// levels.
TEST_F(HistoryWindowTest, NoticesWithoutDataAndAWholeLegend) {
  EXPECT_EQ(ChartText("HistoryNotice"), "Check a value on the left to plot it");
  window_->AddValue(26);  // never recorded
  EXPECT_EQ(ChartText("HistoryNotice"), "No data yet");
  EXPECT_THAT(AxisTitles(), ::testing::IsEmpty());

  for (std::int64_t t = kNow - 30 * kMinute; t < kNow; t += kMinute) source_.Add(24, {t, 0});
  for (const int field : {18, 19, 24, 43, 44}) window_->AddValue(field);
  QApplication::processEvents();
  EXPECT_EQ(ChartText("HistoryNotice"), "");
  QRectF at;
  const std::string legend = ChartText("HistoryLegend", &at);
  for (const char* entry : {"Battery Volts [V]", "Temp Sensor 1 [°C]", "Emergency Threshold [V]",
                            "Powersafe 3.49 V", "Emergency 3.33 V"}) {
    EXPECT_THAT(legend, ::testing::HasSubstr(entry));
  }
  const QChart* chart = window_->chart_view()->chart();
  EXPECT_TRUE(at.top() >= chart->plotArea().bottom() && at.bottom() <= chart->size().height());

  window_->SetSpan({kNow - 10 * kMillisPerDay, kNow - 9 * kMillisPerDay});
  EXPECT_EQ(ChartText("HistoryNotice"), "No data in this span");
  EXPECT_THAT(AxisTitles(), ElementsAre("V")) << "the thresholds' axis alone";
}

// The picture is the plot's; the table holds the shown span's values in the core's
// form. A file that cannot be written is reported.
TEST_F(HistoryWindowTest, SavesThePictureAndTheShownData) {
  window_->AddValue(18);
  window_->AddValue(19);
  window_->SetSpan({kNow - 10 * kMinute, kNow - 5 * kMinute});
  const testing::TempDir dir("history-save");
  const auto path = [&](const char* name) { return QString::fromStdString((dir / name).string()); };
  ASSERT_TRUE(window_->SavePng(path("plot.png")));
  EXPECT_EQ(QImage(path("plot.png")).size(), window_->chart_view()->grab().size());

  ASSERT_TRUE(window_->SaveCsv(path("plot.csv")));
  const std::vector<std::string> rows = testing::Lines(dir.Contents("plot.csv"));
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "time_utc,18 Battery Volts [V],19 Battery Curr [mA]");
  EXPECT_TRUE(rows[1].starts_with(UtcText(Recorded(18, window_->span())[0].utc_ms) + ","));
  EXPECT_FALSE(window_->SaveCsv(path("no-such-dir/x.csv")));
  EXPECT_FALSE(window_->SavePng(path("no-such-dir/x.png")));
}

}  // namespace
}  // namespace zevrin
