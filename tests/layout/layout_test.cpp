// The source tree keeps its shape: every #include "…" runs down the layers, and
// no file or function grows past what a reader takes in at once. The failures
// name the file and line, so a wrong include is found where it was written.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = ZEVRIN_SOURCE_DIR;

// Each folder's place in the order: a folder includes only folders of a lower
// rank. src/core runs along the data flow (the sub-folders of outputs rank among
// themselves); src/desktop (ranks 20 and up) sits above the whole core; the
// tools see the core only, the desktop executables everything.
struct Folder {
  std::string_view name;
  int rank;
};
// clang-format off
constexpr Folder kFolders[] = {
    {"base", 0},  {"config", 1}, {"clock", 1}, {"input", 2}, {"kiss", 3}, {"frames", 4},
    {"telemetry", 5}, {"outputs", 6}, {"outputs/logs", 7}, {"outputs/archive", 8},
    {"outputs/export", 9}, {"outputs/share", 9}, {"outputs/kiss_server", 7},
    {"outputs/mqtt", 10}, {"outputs/influx", 10}, {"alarms", 10}, {"station", 11}, {"views", 11},
    {"tools", 15},
    {"adapters", 20}, {"widgets", 20}, {"dialogs", 21}, {"history", 21}, {"windows", 22},
    {"session", 23}, {"app", 30},
};
// clang-format on

int RankOf(std::string_view folder) {
  const auto* f = std::ranges::find(kFolders, folder, &Folder::name);
  return f != std::end(kFolders) ? f->rank : -1;
}

struct Source {
  fs::path path;       // as found
  std::string folder;  // its folder below src/core or src/desktop, or "tools"/"app"
  int rank = -1;
};

std::vector<Source> Sources() {
  std::vector<Source> out;
  // A layered tree names each file's folder below its root; a program tree is one folder.
  const auto add_tree = [&](const char* root, const char* program) {
    for (const auto& entry : fs::recursive_directory_iterator(kSource / root)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string folder =
          program != nullptr
              ? program
              : entry.path().parent_path().lexically_relative(kSource / root).generic_string();
      out.push_back({entry.path(), folder, RankOf(folder)});
    }
  };
  add_tree("src/core", nullptr);
  add_tree("src/desktop", nullptr);
  add_tree("tools", "tools");
  add_tree("app", "app");
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.path < b.path; });
  return out;
}

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Where(const Source& s, std::size_t line) {
  return s.path.lexically_relative(kSource).generic_string() + ":" + std::to_string(line + 1);
}

// The folder an include names, when it names a header of the core or the desktop.
std::optional<std::string> IncludedFolder(const std::string& header) {
  for (const char* root : {"src/core", "src/desktop"}) {
    if (fs::exists(kSource / root / header)) return fs::path(header).parent_path().string();
  }
  return std::nullopt;
}

std::vector<std::string> IncludesAgainstTheOrder() {
  static const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
  std::vector<std::string> wrong;
  for (const Source& s : Sources()) {
    if (s.rank < 0) {
      wrong.push_back(s.path.generic_string() + ": a folder without a place in the order");
      continue;
    }
    const auto lines = Lines(s.path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::smatch m;
      if (!std::regex_search(lines[i], m, include)) continue;
      const auto target = IncludedFolder(m[1]);
      if (!target || *target == s.folder) continue;
      const int to = RankOf(*target);
      if (to < 0 || to >= s.rank) {
        wrong.push_back(Where(s, i) + ": " + s.folder + " includes " + *target + " (\"" +
                        m[1].str() + "\")");
      }
    }
  }
  return wrong;
}

constexpr std::size_t kMostFileLines = 400;
constexpr std::size_t kMostFunctionLines = 60;

// Function bodies in Google style: a definition starts at column 0, its "{" ends
// that line or one of the indented lines that continue it, and its body ends at
// the next "}" in column 0. Namespaces, classes and tables are not functions.
bool StartsDefinition(const std::string& line) {
  if (line.empty() || line[0] == ' ' || line[0] == '/' || line[0] == '#' || line[0] == '}') {
    return false;
  }
  for (const char* word : {"namespace", "class ", "struct ", "enum ", "union ", "template"}) {
    if (line.rfind(word, 0) == 0) return false;
  }
  return line.find('(') != std::string::npos && line.find('=') == std::string::npos &&
         line.back() != ';';
}

std::vector<std::string> FunctionsTooLong(const Source& s, const std::vector<std::string>& lines) {
  constexpr std::size_t kNone = std::string::npos;
  std::vector<std::string> found;
  std::size_t head = kNone;   // the first line of a definition being read
  std::size_t start = kNone;  // the line of its opening brace
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (start == kNone) {
      if (StartsDefinition(line)) head = i;
      if (head != kNone && !line.empty() && line.back() == ';') head = kNone;
      if (head != kNone && !line.empty() && line.back() == '{') start = i;
      continue;
    }
    if (line.empty() || line[0] != '}') continue;
    const std::size_t body = i - start - 1;
    if (body > kMostFunctionLines) {
      found.push_back(Where(s, head) + ": a function of " + std::to_string(body) + " lines");
    }
    head = start = kNone;
  }
  return found;
}

TEST(LayoutTest, IncludesRunDownTheLayersOnly) {
  const auto wrong = IncludesAgainstTheOrder();
  for (const auto& w : wrong) ADD_FAILURE() << w;
  EXPECT_TRUE(wrong.empty());
}

TEST(LayoutTest, FilesAndFunctionsStayShort) {
  for (const Source& s : Sources()) {
    const auto lines = Lines(s.path);
    const auto name = s.path.lexically_relative(kSource).generic_string();
    EXPECT_LE(lines.size(), kMostFileLines) << name << " has grown past the rule";
    if (s.path.extension() == ".cpp") {
      for (const auto& f : FunctionsTooLong(s, lines)) ADD_FAILURE() << f;
    }
  }
}

}  // namespace
