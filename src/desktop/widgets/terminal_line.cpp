#include "widgets/terminal_line.h"

#include <QKeyEvent>
#include <utility>

namespace zevrin {

TerminalLine::TerminalLine(std::function<void(int)> on_key, QWidget* parent)
    : QLineEdit(parent), on_key_(std::move(on_key)) {}

void TerminalLine::keyPressEvent(QKeyEvent* event) {
  // Keys without text (arrows, function keys) are not reported; of a key that
  // brings several characters, the first is.
  const QString text = event->text();
  if (!text.isEmpty()) on_key_(text.at(0).unicode());
  QLineEdit::keyPressEvent(event);
}

}  // namespace zevrin
