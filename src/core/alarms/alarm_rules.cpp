#include "alarms/alarm_rules.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "alarms/rule_tokens.h"
#include "outputs/archive/archive_columns.h"
#include "outputs/share/share_settings.h"

namespace zevrin {

namespace {

using alarm_rules::Describe;
using alarm_rules::Is;
using alarm_rules::Token;
using alarm_rules::TokenKind;

constexpr std::array<std::string_view, 3> kSeverityNames = {"watch", "warning", "critical"};

constexpr std::pair<std::string_view, AlarmTest> kTests[] = {
    {"<", AlarmTest::kBelow},         {"below", AlarmTest::kBelow},   {">", AlarmTest::kAbove},
    {"above", AlarmTest::kAbove},     {"<=", AlarmTest::kAtMost},     {">=", AlarmTest::kAtLeast},
    {"outside", AlarmTest::kOutside}, {"inside", AlarmTest::kInside},
};

constexpr std::int64_t kSecondMs = 1000;
constexpr std::int64_t kMinuteMs = 60 * kSecondMs;
constexpr std::int64_t kHourMs = 60 * kMinuteMs;
constexpr std::int64_t kDayMs = 24 * kHourMs;
constexpr std::pair<std::string_view, std::int64_t> kUnits[] = {
    {"s", kSecondMs},   {"sec", kSecondMs},    {"second", kSecondMs},  {"seconds", kSecondMs},
    {"min", kMinuteMs}, {"minute", kMinuteMs}, {"minutes", kMinuteMs}, {"h", kHourMs},
    {"hour", kHourMs},  {"hours", kHourMs},    {"d", kDayMs},          {"day", kDayMs},
    {"days", kDayMs},
};

// A longer silence, or a longer persistence, is a typing error rather than a wish.
constexpr double kLongestSilenceMs = 366.0 * kDayMs;
constexpr int kMostRecords = 100000;

// Why the rule of the line being parsed is left out.
struct RuleError {
  std::string what;
};

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// One line's tokens, read from left to right into a rule.
class RuleParser {
 public:
  RuleParser(const std::vector<Token>& tokens, std::vector<std::string>& values)
      : tokens_(tokens), values_(values) {}

  void Parse(AlarmRule& rule, std::string_view line);

 private:
  const Token& Peek() const { return tokens_[std::min(next_, tokens_.size() - 1)]; }
  const Token& Take() {
    const Token& t = Peek();
    if (t.kind != TokenKind::kEnd) ++next_;
    return t;
  }
  bool Accept(std::string_view word) {
    if (!Is(Peek(), word)) return false;
    ++next_;
    return true;
  }
  void Expect(std::string_view word, std::string_view after) {
    if (!Accept(word))
      Fail("expected " + alarm_rules::Quoted(word) + " after " + std::string(after));
  }
  [[noreturn]] void Fail(std::string what) const {
    throw RuleError{what + ", not " + Describe(Peek())};
  }

  int ValueName();
  double Number(std::string_view after);
  AlarmLimit Limit(std::string_view after);
  AlarmCondition Condition();
  std::int64_t UnitMs(std::string_view after);
  void Subject(AlarmRule& rule);
  void Silence(AlarmRule& rule);
  void Clauses(AlarmRule& rule);
  void SeverityAndMessage(AlarmRule& rule);

  const std::vector<Token>& tokens_;
  std::vector<std::string>& values_;
  std::size_t next_ = 0;
};

// A numeric column of the archive, entered among the rules' values once.
int RuleParser::ValueName() {
  const Token& t = Peek();
  if (t.kind != TokenKind::kWord) Fail("expected the name of a value");
  const std::string name = Lowered(t.text);
  const auto columns = ArchiveColumns();
  const auto column = std::ranges::find(columns, name, &ArchiveColumn::name);
  if (column == columns.end()) throw RuleError{"unknown value " + alarm_rules::Quoted(name)};
  if (!column->numeric()) throw RuleError{alarm_rules::Quoted(name) + " is a text, not a number"};
  ++next_;
  const auto known = std::ranges::find(values_, name);
  if (known != values_.end()) return static_cast<int>(known - values_.begin());
  values_.push_back(name);
  return static_cast<int>(values_.size() - 1);
}

double RuleParser::Number(std::string_view after) {
  const bool negative = Accept("-");
  if (!negative) Accept("+");
  if (Peek().kind != TokenKind::kNumber) Fail("expected a number after " + std::string(after));
  const double n = Take().number;
  return negative ? -n : n;
}

// A number, or a value with an optional "+ N" or "- N".
AlarmLimit RuleParser::Limit(std::string_view after) {
  AlarmLimit limit;
  if (Peek().kind != TokenKind::kWord) {
    limit.number = Number(after);
    return limit;
  }
  limit.value = ValueName();
  if (Is(Peek(), "+") || Is(Peek(), "-")) limit.number = Number("the value's '+' or '-'");
  return limit;
}

AlarmCondition RuleParser::Condition() {
  const Token& t = Peek();
  const auto found = std::ranges::find_if(kTests, [&](const auto& e) { return Is(t, e.first); });
  if (found == std::end(kTests)) {
    Fail("expected <, >, <=, >=, below, above, outside or inside");
  }
  ++next_;
  AlarmCondition c;
  c.test = found->second;
  const std::string after = alarm_rules::Quoted(t.text);
  c.low = Limit(after);
  if (c.test != AlarmTest::kOutside && c.test != AlarmTest::kInside) return c;
  Expect("..", "the lower limit");
  c.high = Limit("'..'");
  if (c.low.value < 0 && c.high.value < 0 && c.low.number > c.high.number) {
    throw RuleError{"the lower limit is above the upper one"};
  }
  return c;
}

std::int64_t RuleParser::UnitMs(std::string_view after) {
  const Token& t = Peek();
  const auto found = std::ranges::find_if(kUnits, [&](const auto& e) { return Is(t, e.first); });
  if (found == std::end(kUnits)) Fail("expected s, min, h or d after " + std::string(after));
  ++next_;
  return found->second;
}

// "no satellite frame for N UNIT [while link up]".
void RuleParser::Silence(AlarmRule& rule) {
  rule.kind = AlarmSubject::kSilence;
  Expect("satellite", "'no'");
  if (!Accept("frames")) Expect("frame", "'no satellite'");
  Expect("for", "'no satellite frame'");
  const double count = Number("'for'");
  const std::int64_t unit = UnitMs("the number");
  const double ms = count * static_cast<double>(unit);
  if (!(ms >= 1) || ms > kLongestSilenceMs) throw RuleError{"a silence lasts 1 ms to 366 days"};
  rule.silence_ms = static_cast<std::int64_t>(ms);
  rule.silence_unit_ms = static_cast<double>(unit);
  const std::size_t unit_token = next_ - 1;
  rule.subject = "silence in " + std::string(tokens_[unit_token].text);
  if (Accept("while")) {
    Expect("link", "'while'");
    Expect("up", "'while link'");
    rule.while_link_up = true;
  }
}

// The watched value and the condition that raises the alarm.
void RuleParser::Subject(AlarmRule& rule) {
  if (Accept("no")) return Silence(rule);
  if (Is(Peek(), "rate") && next_ + 1 < tokens_.size() && Is(tokens_[next_ + 1], "(")) {
    next_ += 2;
    rule.kind = AlarmSubject::kRate;
    rule.value = ValueName();
    Expect(")", "the value's name");
    rule.raise = Condition();
    Expect("per", "the limit of a rate");
    const std::size_t unit_token = next_;
    rule.raise.scale = static_cast<double>(UnitMs("'per'"));
    rule.subject = "rate(" + values_[static_cast<std::size_t>(rule.value)] + ") per " +
                   std::string(tokens_[unit_token].text);
    return;
  }
  rule.value = ValueName();
  rule.subject = values_[static_cast<std::size_t>(rule.value)];
  if (Accept("increases")) {
    rule.kind = AlarmSubject::kIncrease;
  } else {
    rule.raise = Condition();
  }
}

// "for N records" and "clear CONDITION", in any order, each at most once.
void RuleParser::Clauses(AlarmRule& rule) {
  bool persistence = false;
  while (!Is(Peek(), ":") && Peek().kind != TokenKind::kEnd) {
    if (Accept("for")) {
      if (rule.kind == AlarmSubject::kSilence || persistence) {
        throw RuleError{"a second 'for' in one rule"};
      }
      const double n = Number("'for'");
      if (n < 1 || n > kMostRecords || n != std::floor(n)) {
        throw RuleError{"'for' takes a whole number of records from 1 to 100000"};
      }
      rule.records = static_cast<int>(n);
      persistence = true;
      if (!Accept("records")) Expect("record", "the number of records");
    } else if (Accept("clear")) {
      if (rule.kind == AlarmSubject::kIncrease || rule.kind == AlarmSubject::kSilence) {
        throw RuleError{"only a value or a rate takes a 'clear' condition"};
      }
      if (rule.clear) throw RuleError{"a second 'clear' in one rule"};
      // The value may be named again: "clear battery_volts > 3.5".
      if (rule.kind == AlarmSubject::kValue && Is(Peek(), rule.subject)) ++next_;
      rule.clear = Condition();
      rule.clear->scale = rule.raise.scale;
      if (rule.kind == AlarmSubject::kRate && Accept("per")) {
        rule.clear->scale = static_cast<double>(UnitMs("'per'"));
      }
    } else {
      Fail("expected 'for N records', 'clear' or ':' and a severity");
    }
  }
}

void RuleParser::SeverityAndMessage(AlarmRule& rule) {
  if (!Accept(":")) Fail("expected ':' and a severity");
  const Token& t = Peek();
  const auto found = std::ranges::find_if(kSeverityNames, [&](auto n) { return Is(t, n); });
  if (found == kSeverityNames.end()) Fail("expected the severity watch, warning or critical");
  ++next_;
  rule.severity = static_cast<AlarmSeverity>(found - kSeverityNames.begin());
  if (Peek().kind == TokenKind::kText) {
    const std::string_view text = Take().text;
    // The message is printed on terminals and written to JSON as it is.
    if (!std::ranges::all_of(text, [](char c) { return c >= 0x20 && c < 0x7F; })) {
      throw RuleError{"a message holds only printable ASCII characters"};
    }
    if (!Trimmed(text).empty()) rule.message = Trimmed(text);
  }
  if (Peek().kind != TokenKind::kEnd) Fail("expected the end of the rule");
}

void RuleParser::Parse(AlarmRule& rule, std::string_view line) {
  Subject(rule);
  Clauses(rule);
  const std::size_t colon = Peek().at;
  SeverityAndMessage(rule);
  rule.text = Trimmed(line.substr(0, tokens_.back().at));
  if (rule.message.empty()) rule.message = Trimmed(line.substr(0, colon));
}

std::string Where(std::string_view file, std::size_t line) {
  return std::string(file) + ":" + std::to_string(line) + ": ";
}

constexpr std::string_view kNotifyWord = "notify";

// A "notify URL [# comment]" line: the address goes into `out.webhooks`, or what is
// wrong with it into `out.errors`. False for any other line, which is a rule.
bool TakeNotifyLine(std::string_view line, std::string_view where, AlarmRules& out) {
  const std::string_view text = Trimmed(line);
  const std::string_view word = text.substr(0, text.find_first_of(" \t"));
  if (Lowered(word) != kNotifyWord) return false;
  const std::string_view rest = Trimmed(text.substr(word.size()));
  const std::string_view url = rest.substr(0, rest.find_first_of(" \t"));
  const std::string_view after = Trimmed(rest.substr(url.size()));
  const bool printable = std::ranges::none_of(
      url, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  std::string error;
  if (url.empty()) {
    error = "no address after 'notify'";
  } else if (!IsServerUrl(url)) {
    // The address is shown (its password masked) unless it would garble the message.
    error = printable ? "not an http(s) address: " + WithoutPassword(url)
                      : "an address with a control character";
  } else if (!after.empty() && after.front() != '#') {
    error = "more than an address after 'notify'";
  } else if (out.webhooks.size() >= kAlarmWebhooksMax) {
    error = "more than " + std::to_string(kAlarmWebhooksMax) + " addresses to notify; left out";
  } else {
    out.webhooks.emplace_back(url);
  }
  if (!error.empty()) out.errors.push_back(std::string(where) + error);
  return true;
}

}  // namespace

std::string_view AlarmSeverityName(AlarmSeverity severity) {
  return kSeverityNames[static_cast<std::size_t>(severity)];
}

AlarmRules ParseAlarmRules(std::string_view text, std::string_view file) {
  AlarmRules out;
  std::string_view rest = text;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (line.size() > kAlarmRulesLineMax) {
      out.errors.push_back(Where(file, number) + "longer than " +
                           std::to_string(kAlarmRulesLineMax) + " bytes; left out");
      continue;
    }
    if (TakeNotifyLine(line, Where(file, number), out)) continue;
    const alarm_rules::LineTokens cut = alarm_rules::CutLine(line);
    if (cut.error.empty() && cut.tokens.size() == 1) continue;  // blank or a comment
    if (out.rules.size() >= kAlarmRulesMax) {
      out.errors.push_back(Where(file, number) + "more than " + std::to_string(kAlarmRulesMax) +
                           " rules; this one and those after it are left out");
      break;
    }
    const std::size_t values_before = out.values.size();
    try {
      if (!cut.error.empty()) throw RuleError{cut.error};
      AlarmRule rule;
      rule.line = static_cast<int>(number);
      RuleParser(cut.tokens, out.values).Parse(rule, line);
      out.rules.push_back(std::move(rule));
    } catch (const RuleError& e) {
      out.values.resize(values_before);  // names only the bad rule used
      out.errors.push_back(Where(file, number) + e.what);
    }
  }
  return out;
}

}  // namespace zevrin
