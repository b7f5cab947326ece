#pragma once
// A warning that does not wait: the window behind it stays usable.

#include <QMessageBox>
#include <QString>

namespace zevrin {

/// Opens a warning over `parent` with `text` as plain text (never read as
/// markup), titled like `parent`; it deletes itself when closed.
inline QMessageBox* OpenWarning(QWidget* parent, const QString& text) {
  auto* box =
      new QMessageBox(QMessageBox::Warning, parent->windowTitle(), text, QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return box;
}

}  // namespace zevrin
