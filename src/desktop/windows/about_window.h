#pragma once
// The About window: program name, version line, contact rows and the log folder.

#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

namespace zevrin {

/// Program name shown in the About window's title line.
inline constexpr char kProgramName[] = "ZEVRIN TARVELO Housekeeping Data Decoder";
/// Release date of this version.
inline constexpr std::string_view kReleaseDate = "June 20, 2009";

/// "Version ", the version, four blanks and the release date in brackets.
std::string VersionLine();

class AboutWindow final : public QWidget {
  Q_OBJECT

 public:
  /// `log_folder`: where this run writes its logs, shown on the last line.
  explicit AboutWindow(const QString& log_folder = {}, QWidget* parent = nullptr);
};

/// Opens the About window, or raises it when it is already open; there is never
/// more than one. It closes only through its own close control (or at exit).
AboutWindow* OpenAboutWindow(const QString& log_folder = {});

/// The open About window, or null.
AboutWindow* CurrentAboutWindow();

}  // namespace zevrin
