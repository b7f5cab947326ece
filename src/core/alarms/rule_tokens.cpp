#include "alarms/rule_tokens.h"

#include <charconv>
#include <cstdio>

namespace zevrin::alarm_rules {

namespace {

constexpr std::string_view kTwoCharacterSymbols[] = {"<=", ">=", ".."};
constexpr std::string_view kOneCharacterSymbols = "<>():+-";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A character the error can show as it is, or its byte in hex: a line may hold
// anything, and an error goes to a terminal.
std::string CharacterText(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7F) return Quoted(std::string_view(&c, 1));
  char text[16];
  std::snprintf(text, sizeof text, "byte 0x%02X", byte);
  return text;
}

// The length of the word, number or symbol at the start of `rest`, 0 for none.
std::size_t TokenLength(std::string_view rest, TokenKind& kind) {
  std::size_t n = 0;
  if (IsLetter(rest[0])) {
    kind = TokenKind::kWord;
    while (n < rest.size() && (IsLetter(rest[n]) || IsDigit(rest[n]))) ++n;
  } else if (IsDigit(rest[0])) {
    kind = TokenKind::kNumber;
    while (n < rest.size() && IsDigit(rest[n])) ++n;
    // A point starts the decimals only before a digit: "10..45" is a range.
    if (n + 1 < rest.size() && rest[n] == '.' && IsDigit(rest[n + 1])) {
      for (++n; n < rest.size() && IsDigit(rest[n]);) ++n;
    }
  } else {
    kind = TokenKind::kSymbol;
    for (const std::string_view s : kTwoCharacterSymbols) {
      if (rest.starts_with(s)) return s.size();
    }
    if (kOneCharacterSymbols.find(rest[0]) != std::string_view::npos) n = 1;
  }
  return n;
}

}  // namespace

LineTokens CutLine(std::string_view line) {
  LineTokens out;
  std::size_t at = 0;
  while (at < line.size()) {
    const char c = line[at];
    if (IsBlank(c)) {
      ++at;
      continue;
    }
    if (c == '#') break;
    Token token;
    token.at = at;
    if (c == '"') {
      const std::size_t end = line.find('"', at + 1);
      if (end == std::string_view::npos) {
        out.error = "the message has no closing '\"'";
        return out;
      }
      token.kind = TokenKind::kText;
      token.text = line.substr(at + 1, end - at - 1);
      out.tokens.push_back(token);
      at = end + 1;
      continue;
    }
    const std::size_t n = TokenLength(line.substr(at), token.kind);
    if (n == 0) {
      out.error = "unexpected " + CharacterText(c);
      return out;
    }
    token.text = line.substr(at, n);
    if (token.kind == TokenKind::kNumber &&
        std::from_chars(token.text.data(), token.text.data() + n, token.number).ec != std::errc()) {
      out.error = "a number is too large";
      return out;
    }
    out.tokens.push_back(token);
    at += n;
  }
  Token end;
  end.at = at;
  out.tokens.push_back(end);
  return out;
}

bool Is(const Token& token, std::string_view text) {
  if (token.kind != TokenKind::kWord && token.kind != TokenKind::kSymbol) return false;
  if (token.text.size() != text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Lower(token.text[i]) != text[i]) return false;
  }
  return true;
}

std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}

std::string Describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::kEnd:
      return "the end of the line";
    case TokenKind::kText:
      return "a message";
    default:
      return Quoted(token.text);
  }
}

}  // namespace zevrin::alarm_rules
