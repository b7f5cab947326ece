#include "history/saving.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QWidget>
#include <sstream>
#include <string>
#include <vector>

#include "views/decimation.h"
#include "views/history_csv.h"

namespace zevrin {

bool WriteTracesCsv(const QString& path, const HistoryTraces& traces, TimeSpan span) {
  std::vector<HistoryColumn> columns;
  for (const auto& trace : traces) {
    columns.push_back({&trace->info, PointsWithin(trace->points, span)});
  }
  std::ostringstream text;
  WriteHistoryCsv(text, columns);
  const std::string bytes = text.str();
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return file.commit();
}

void SaveWithDialog(QWidget& window, bool picture,
                    const std::function<bool(const QString&)>& save) {
  const QString path = QFileDialog::getSaveFileName(
      &window, picture ? QStringLiteral("Save picture") : QStringLiteral("Save data"),
      picture ? QStringLiteral("history.png") : QStringLiteral("history.csv"),
      picture ? QStringLiteral("PNG pictures (*.png)") : QStringLiteral("CSV tables (*.csv)"));
  if (path.isEmpty()) return;
  if (save(path)) return;
  QMessageBox box(QMessageBox::Warning, window.windowTitle(),
                  QStringLiteral("Cannot write %1").arg(path), QMessageBox::Ok, &window);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace zevrin
