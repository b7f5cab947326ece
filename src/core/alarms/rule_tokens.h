#pragma once
// The words, numbers and signs of one line of the alarm rules.

#include <string>
#include <string_view>
#include <vector>

namespace zevrin::alarm_rules {

enum class TokenKind { kWord, kNumber, kSymbol, kText, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view text;  ///< as written; a kText without its quotes
  double number = 0;      ///< kNumber: its value, without a sign
  std::size_t at = 0;     ///< where it starts in the line
};

/// A line cut into tokens, ending with a kEnd token at the start of its comment
/// ('#') or at its end.
struct LineTokens {
  std::vector<Token> tokens;
  std::string error;  ///< why the line cannot be cut; empty when it can
};

/// Words are letters, digits and '_' after a letter or '_'; numbers are digits
/// with an optional decimal part (a sign is a symbol of its own); symbols are
/// "<=", ">=", "..", and one of "<>():+-"; a text is enclosed in '"'.
LineTokens CutLine(std::string_view line);

/// True when `token` is the word or symbol `text`, letters in any case.
bool Is(const Token& token, std::string_view text);

/// 'text', in single quotes.
std::string Quoted(std::string_view text);

/// The token as an error names it: 'word' or "the end of the line".
std::string Describe(const Token& token);

}  // namespace zevrin::alarm_rules
