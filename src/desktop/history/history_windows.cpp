#include "history/history_windows.h"

#include <algorithm>

#include "history/history_window.h"

namespace zevrin {

void HistoryWindows::SetSource(const HistorySource* source) {
  source_ = source;
  for (HistoryWindow* window : windows()) {
    if (source == nullptr) {
      window->close();
    } else {
      window->SetSource(*source);
    }
  }
}

HistoryWindow* HistoryWindows::Open(int field) {
  if (source_ == nullptr) return nullptr;
  const std::vector<HistoryValueInfo> values = source_->Values();
  if (std::none_of(values.begin(), values.end(),
                   [field](const HistoryValueInfo& v) { return v.field == field; })) {
    return nullptr;
  }
  for (HistoryWindow* window : windows()) {
    if (window->ShownFields() == std::vector<int>{field}) {
      window->raise();
      window->activateWindow();
      return window;
    }
  }
  auto* window = new HistoryWindow(*source_, clock_, run_start_ms_);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->AddValue(field);
  window->show();
  windows_.emplace_back(window);
  return window;
}

void HistoryWindows::CloseAll() {
  for (HistoryWindow* window : windows()) delete window;
  windows_.clear();
}

std::vector<HistoryWindow*> HistoryWindows::windows() {
  std::erase_if(windows_, [](const QPointer<HistoryWindow>& w) { return w.isNull(); });
  std::vector<HistoryWindow*> open;
  for (const auto& w : windows_) open.push_back(w.data());
  return open;
}

}  // namespace zevrin
