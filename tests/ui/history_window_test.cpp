// The history window offscreen: first on values held in memory (what it draws,
// following new records, zooming and panning, saving), then in the whole program,
// opened from the main window's fields on a station's archive. Thinning, spans and
// the table's form are checked in the core tests; here that the window uses them.

#include "history/history_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDropEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QTcpServer>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>
#include <filesystem>
#include <memory>
#include <set>

#include "archive/archive_support.h"
#include "base/colours.h"
#include "link/pty.h"
#include "sample/sample_pass.h"
#include "session/station_window.h"
#include "support/fakes.h"
#include "support/qt_wait.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::WaitFor;

constexpr std::int64_t kNow = 1800000000000;  // 2027-01-15 08:00:00 UTC
constexpr std::int64_t kMinute = 60000;

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

  void SetNow(std::int64_t ms) { clock_.Set({ms / 1000, static_cast<int>(ms % 1000)}); }
  std::vector<HistoryPoint> Recorded(int field, TimeSpan span) const {
    std::vector<HistoryPoint> points;
    source_.ReadSeries(field, span, points);
    return points;
  }
  void Drop(const QByteArray& field) {
    QMimeData data;
    data.setData(kDisplayFieldMimeType, field);
    const QPointF at(window_->width() / 2.0, window_->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &drop);
  }
  QStringList AxisTitles(Qt::Orientation orientation) const {
    QStringList titles;
    for (const QAbstractAxis* axis : window_->chart_view()->chart()->axes(orientation)) {
      titles << axis->titleText();
    }
    return titles;
  }
  QWidget* Plot() const { return window_->chart_view()->viewport(); }
  QRect PlotArea() const {
    QChartView* view = window_->chart_view();
    return view->mapFromScene(view->chart()->plotArea()).boundingRect();
  }

  testing::FixedClock clock_{{kNow / 1000, 0}};
  MemoryHistorySource source_{{{18, "Battery Volts", "V"},
                               {19, "Battery Curr", "mA"},
                               {26, "Temp Sensor 1", "°C"},
                               {43, "Powersafe Threshold", "V"},
                               {44, "Emergency Threshold", "V"}}};
  std::unique_ptr<HistoryWindow> window_;
};

// The battery voltage as recorded, with the thresholds last received as reference
// lines; more values by dropping fields and from the list, each unit on its axis.
TEST_F(HistoryWindowTest, DrawsTheRecordedValuesThresholdsAndAddedValues) {
  window_->AddValue(18);
  EXPECT_EQ(window_->DrawnPoints(18), Recorded(18, {kBeginningOfTime, kEndOfTime}));
  EXPECT_EQ(window_->ThresholdLevel(43), 3.49);
  EXPECT_EQ(window_->ThresholdLevel(44), 3.33);
  EXPECT_THAT(AxisTitles(Qt::Vertical), ElementsAre("V"));
  EXPECT_TRUE(window_->windowTitle().contains("Battery Volts"));

  Drop("19");
  Drop("7");     // no history: ignored
  Drop("junk");  // not a field number
  EXPECT_THAT(window_->ShownFields(), ElementsAre(18, 19));
  EXPECT_EQ(window_->DrawnPoints(19), Recorded(19, {kBeginningOfTime, kEndOfTime}));
  EXPECT_THAT(AxisTitles(Qt::Vertical), ElementsAre("V", "mA"));

  // The list shows what is drawn, and its check boxes add and remove values.
  auto* list = window_->findChild<QListWidget*>("HistoryValues");
  for (int row = 0; row < list->count(); ++row) {
    QListWidgetItem* item = list->item(row);
    const int field = item->data(Qt::UserRole).toInt();
    EXPECT_EQ(item->checkState() == Qt::Checked, field == 18 || field == 19) << field;
    if (field == 26 || field == 18) item->setCheckState(field == 26 ? Qt::Checked : Qt::Unchecked);
  }
  EXPECT_THAT(window_->ShownFields(), ElementsAre(19, 26));
  EXPECT_THAT(window_->DrawnPoints(18), IsEmpty());
  EXPECT_FALSE(window_->ThresholdLevel(43)) << "the reference lines go with the voltage";
  EXPECT_THAT(AxisTitles(Qt::Vertical), ElementsAre("mA", "°C"));
}

// While the view follows its range, new records appear and the span moves with
// the time; a zoomed view keeps its span until reset.
TEST_F(HistoryWindowTest, FollowsNewRecordsWhileShowingTheRange) {
  window_->AddValue(18);
  window_->AddValue(19);
  const TimeSpan before = window_->span();
  SetNow(kNow + 30000);
  source_.Add(18, {kNow + 20000, 3.71});
  source_.Add(43, {kNow + 20000, 3.52});
  ASSERT_TRUE(WaitFor([&] { return window_->DrawnPoints(18).size() == 61; }, 5000));
  EXPECT_EQ(window_->DrawnPoints(18).back(), (HistoryPoint{kNow + 20000, 3.71}));
  EXPECT_EQ(window_->span().from_ms, before.from_ms);
  EXPECT_GT(window_->span().to_ms, kNow + 30000);
  EXPECT_EQ(window_->ThresholdLevel(43), 3.52);

  const TimeSpan zoomed{kNow - 40 * kMinute, kNow - 20 * kMinute};
  window_->SetSpan(zoomed);
  EXPECT_FALSE(window_->following());
  SetNow(kNow + 90000);
  source_.Add(18, {kNow + 80000, 3.70});
  window_->Refresh();
  EXPECT_EQ(window_->span(), zoomed);
  window_->ResetView();
  EXPECT_TRUE(window_->following());
  EXPECT_EQ(window_->DrawnPoints(18).back(), (HistoryPoint{kNow + 80000, 3.70}));
}

// A long series: drawn thinned to the plot's width, thinned again for each zoom and
// pan, by the wheel, a drawn box, dragging with Shift and the keys.
TEST_F(HistoryWindowTest, ZoomAndPanRedrawTheThinnedSeries) {
  auto& series = source_.Series(26);
  for (std::int64_t i = 0; i < 200000; ++i) {
    series.push_back({kNow - 200000 * 400 + i * 400, std::sin(static_cast<double>(i) / 500)});
  }
  window_->AddValue(26);
  window_->SetRange(HistoryRange::kAll);
  const QRect plot = PlotArea();
  ASSERT_GT(plot.width(), 300);
  // Drawn: the span's points thinned to the columns, and at most one beyond each edge.
  const auto thinned = [&] {
    const auto drawn = window_->DrawnPoints(26);
    const auto outside = std::count_if(drawn.begin(), drawn.end(), [&](const HistoryPoint& p) {
      return p.utc_ms < window_->span().from_ms || p.utc_ms >= window_->span().to_ms;
    });
    return drawn.size() > 100 && outside <= 2 &&
           drawn.size() <= static_cast<std::size_t>(kPointsPerColumn * (plot.width() + 1) + 2);
  };
  EXPECT_TRUE(thinned());
  const TimeSpan all = window_->span();
  QWheelEvent wheel(QPointF(plot.center()), Plot()->mapToGlobal(QPointF(plot.center())), {},
                    QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(Plot(), &wheel);
  EXPECT_NEAR(window_->span().length(), 0.8 * all.length(), 0.01 * all.length());
  EXPECT_FALSE(window_->following());
  EXPECT_TRUE(thinned());

  // A box from a quarter to three quarters of the plot's width.
  const TimeSpan wheeled = window_->span();
  const double pixel = static_cast<double>(wheeled.length()) / plot.width();
  const QPoint from(plot.left() + plot.width() / 4, plot.top() + 10);
  const QPoint to(plot.left() + plot.width() * 3 / 4, plot.bottom() - 10);
  QTest::mousePress(Plot(), Qt::LeftButton, {}, from);
  QTest::mouseMove(Plot(), to);
  QTest::mouseRelease(Plot(), Qt::LeftButton, {}, to);
  EXPECT_NEAR(window_->span().from_ms, wheeled.from_ms + wheeled.length() / 4.0, 2 * pixel);
  EXPECT_NEAR(window_->span().length(), wheeled.length() / 2.0, 2 * pixel);
  EXPECT_TRUE(thinned());

  // Shift+drag 100 pixels to the right: 100 pixels' worth earlier, same length.
  const TimeSpan boxed = window_->span();
  QTest::mousePress(Plot(), Qt::LeftButton, Qt::ShiftModifier, plot.center());
  QTest::mouseMove(Plot(), plot.center() + QPoint(100, 0));
  QTest::mouseRelease(Plot(), Qt::LeftButton, Qt::ShiftModifier, plot.center() + QPoint(100, 0));
  EXPECT_NEAR(boxed.from_ms - window_->span().from_ms, 100.0 * boxed.length() / plot.width(),
              2.0 * boxed.length() / plot.width());
  EXPECT_EQ(window_->span().length(), boxed.length());
  EXPECT_TRUE(thinned());

  const TimeSpan dragged = window_->span();
  window_->chart_view()->setFocus();
  QTest::keyClick(window_->chart_view(), Qt::Key_Right);
  EXPECT_EQ(window_->span(), PanSpan(dragged, 0.1));
  QTest::keyClick(window_->chart_view(), Qt::Key_Home);
  EXPECT_EQ(window_->span(), all);
  EXPECT_TRUE(window_->following());
}

// The picture holds both lines and the reference line; the table holds the shown
// span's values in the core's form. A file that cannot be written is reported.
TEST_F(HistoryWindowTest, SavesThePictureAndTheShownData) {
  window_->AddValue(18);
  window_->AddValue(19);
  window_->SetSpan({kNow - 10 * kMinute, kNow - 5 * kMinute});
  const testing::TempDir dir("history-save");
  const auto path = [&](const char* name) { return QString::fromStdString((dir / name).string()); };

  ASSERT_TRUE(window_->SavePng(path("plot.png")));
  const QImage image(path("plot.png"));
  EXPECT_EQ(image.size(), window_->chart_view()->size() * window_->devicePixelRatio());
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y) | 0xFF000000);
  for (const Rgb rgb : {kHistoryLineColours[0], kHistoryLineColours[1], kEmergencyLine})
    EXPECT_TRUE(colours.contains(qRgb(rgb.r, rgb.g, rgb.b))) << rgb.r << "," << rgb.g;

  ASSERT_TRUE(window_->SaveCsv(path("plot.csv")));
  const std::vector<std::string> rows = testing::Lines(dir.Contents("plot.csv"));
  const auto volts = Recorded(18, window_->span());
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "time_utc,18 Battery Volts [V],19 Battery Curr [mA]");
  EXPECT_TRUE(rows[1].starts_with(UtcText(volts[0].utc_ms) + ",")) << rows[1];
  EXPECT_FALSE(window_->SaveCsv(path("no-such-dir/x.csv")));
  EXPECT_FALSE(window_->SavePng(path("no-such-dir/x.png")));
}

// The whole program: a station whose archive already holds half a pass. Double-click
// on the battery voltage opens its trend (once), as does a temperature's context menu;
// a field that holds no number offers none, and the rest of the pass received meanwhile
// reaches the window.
TEST(HistoryInTheProgram, FieldsOpenTheirTrendFromTheStationsArchive) {
  const testing::TempDir dir("history-station");
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), dir / "com1");
  dir.Write("zevrinkiss.ini", "01,9600,N,8,1\r\n127.0.0.1\r\nLab\r\n");
  // An hour before the program starts, the first half of a pass, one frame every 500 ms.
  testing::SteppingClock pass_clock(kNow - 60 * kMinute, 500);
  testing::Receiver receiver(pass_clock);
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(ArchiveFileName(dir.string(), "Lab")));
  receiver.recorder.AddSink(&writer);
  const sample::Bytes pass = sample::MakePass({.frames = 600});
  receiver.Receive(std::span(pass).first(pass.size() / 2));
  writer.Close();

  testing::FixedClock clock({kNow / 1000, 0});
  DesktopProgram program(clock);
  program.station.settings.time_server_host = "127.0.0.1";
  testing::NoClockSetter setter;
  QTcpServer time_server;  // the test's own TIME server: listens, never answers
  ASSERT_TRUE(time_server.listen(QHostAddress::LocalHost));
  StationWindow station(
      program, setter,
      {{(dir / "zevrinkiss.ini").string(), dir.string()}, dir.string(), time_server.serverPort()});
  station.Start();
  const auto double_click = [&](int i) {
    QTest::mouseDClick(station.window()->findChild<QLineEdit*>(QStringLiteral("Text1_%1").arg(i)),
                       Qt::LeftButton);
  };
  const ArchiveHistorySource archive(ArchiveFileName(dir.string(), "Lab"));
  const auto recorded = [&] {
    std::vector<HistoryPoint> points;
    archive.ReadSeries(18, {kBeginningOfTime, kEndOfTime}, points);
    return points;
  };

  double_click(18);
  double_click(18);  // brings the open one forward
  double_click(0);   // "Mode": a word, no number
  ASSERT_EQ(station.history_windows().windows().size(), 1u);
  HistoryWindow* volts = station.history_windows().windows()[0];
  EXPECT_THAT(volts->ShownFields(), ElementsAre(18));
  const std::size_t before = recorded().size();
  ASSERT_GT(before, 20u);
  // Zoomed to the pass, every record has a pixel column of its own.
  volts->SetSpan({recorded().front().utc_ms, recorded().back().utc_ms + 1});
  EXPECT_EQ(volts->DrawnPoints(18), recorded());
  EXPECT_TRUE(volts->ThresholdLevel(43));
  // A temperature's context menu offers its history too.
  QLineEdit* temperature = station.window()->findChild<QLineEdit*>("Text1_26");
  QContextMenuEvent event(QContextMenuEvent::Mouse, {5, 5}, temperature->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(temperature, &event);
  ASSERT_TRUE(WaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
  const QPointer<QWidget> menu = QApplication::activePopupWidget();
  menu->findChild<QAction*>("HistoryAction")->trigger();
  if (menu) menu->close();
  ASSERT_EQ(station.history_windows().windows().size(), 2u);
  EXPECT_THAT(station.history_windows().windows()[1]->ShownFields(), ElementsAre(26));

  volts->ResetView();
  const std::span<const std::uint8_t> rest = std::span(pass).subspan(pass.size() / 2);
  // In pieces, letting the program read: the terminal's buffer is small.
  for (std::size_t pos = 0; pos < rest.size(); pos += 512) {
    ASSERT_TRUE(pty.Write(rest.subspan(pos, std::min<std::size_t>(512, rest.size() - pos))));
    QTest::qWait(5);
  }
  ASSERT_TRUE(WaitFor([&] { return recorded().size() > before + 20; }));
  EXPECT_TRUE(WaitFor([&] { return volts->DrawnPoints(18).back() == recorded().back(); }, 5000));
  EXPECT_GE(volts->span().to_ms, recorded().back().utc_ms);
  station.End();
  EXPECT_THAT(station.history_windows().windows(), IsEmpty());
}

}  // namespace
}  // namespace zevrin
