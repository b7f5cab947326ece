#pragma once
// Sizes that let a widget show every text it can hold whole, in the fonts this
// machine has: the layout sizes of the windows are only the least sizes.

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

namespace zevrin {

/// The widest of `texts` in `font`, in pixels.
int WidestText(const QFont& font, const QStringList& texts);

/// True when `edit`, `width` pixels wide, shows `text` whole, without scrolling it.
bool LineEditShowsWhole(const QLineEdit& edit, const QString& text, int width);

/// The least width at which `edit` shows each of `texts` whole, at least `least`.
int LineEditWidthFor(const QLineEdit& edit, const QStringList& texts, int least = 0);

/// The least width at which `label` shows each of `texts` whole, at least `least`.
int LabelWidthFor(const QLabel& label, const QStringList& texts, int least = 0);

/// A label for text that may come from input: shown as plain text, never as rich
/// text, whatever it holds.
QLabel* PlainLabel(const QString& text, QWidget* parent);

}  // namespace zevrin
