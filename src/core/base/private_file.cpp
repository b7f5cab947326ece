#include "base/private_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace zevrin {

std::optional<std::string> WritePrivateFile(const std::string& path, const std::string& content) {
  // The folder of the settings may not be there yet (a user's configuration folder).
  std::error_code dir_error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, dir_error);
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (file == nullptr) {
    const std::string reason = temporary + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return reason;
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const int write_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    return path + ": " + std::strerror(written ? errno : write_errno);
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return path + ": " + ec.message();
  }
  return std::nullopt;
}

}  // namespace zevrin
