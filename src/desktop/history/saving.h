#pragma once
// Saving from the history window: the shown data as a CSV table, and the file
// dialog that asks where either the picture or the table goes.

#include <QString>
#include <functional>

#include "history/trace.h"

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace zevrin {

/// Writes every point of every trace inside `span` to `path` as CSV, replacing
/// the file whole; false when it cannot be written.
bool WriteTracesCsv(const QString& path, const HistoryTraces& traces, TimeSpan span);

/// Asks `window`'s user where to save the picture (or the data) and calls
/// `save` with the path chosen; a failed save is told in a warning box.
void SaveWithDialog(QWidget& window, bool picture, const std::function<bool(const QString&)>& save);

}  // namespace zevrin
