#pragma once
// The terminal line: a one-line text box that reports each key typed into it
// before handling the key as any one-line text box does.

#include <QLineEdit>
#include <functional>

class QKeyEvent;

namespace zevrin {

class TerminalLine final : public QLineEdit {
 public:
  /// `on_key` receives the character code of every key that brings text, before
  /// the line handles that key.
  TerminalLine(std::function<void(int)> on_key, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<void(int)> on_key_;
};

}  // namespace zevrin
