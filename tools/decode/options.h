#pragma once
// Reading the decode tool's options that take a value.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zevrin {

/// The value of `argv[i]` when it is the option `name`, given as "--name VALUE"
/// (`i` then moves past the value) or "--name=VALUE"; none when it is another
/// argument. A missing value sets `error` and gives an empty value.
inline std::optional<std::string> OptionValue(int argc, char** argv, int& i, std::string_view name,
                                              std::string& error) {
  const std::string_view arg = argv[i];
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
    return std::string(arg.substr(name.size() + 1));
  }
  if (arg != name) return std::nullopt;
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return std::string();
  }
  return std::string(argv[++i]);
}

/// The first of `names` that `argv[i]` is, with its value, as OptionValue reads
/// it; none when it is another argument.
inline std::optional<std::pair<std::string_view, std::string>> OneOfOptions(
    int argc, char** argv, int& i, std::initializer_list<std::string_view> names,
    std::string& error) {
  for (const std::string_view name : names) {
    if (std::optional<std::string> value = OptionValue(argc, argv, i, name, error))
      return std::pair{name, std::move(*value)};
  }
  return std::nullopt;
}

}  // namespace zevrin
