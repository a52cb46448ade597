#include "text_reading.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

namespace bramlock {
namespace internal {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string quoted(std::string_view word) {
  constexpr std::size_t kShown = 40;
  return "\"" + std::string(word.substr(0, kShown)) + (word.size() > kShown ? "...\"" : "\"");
}

// from_chars takes no leading plus, which writers put before positive numbers.
std::string_view withoutPlus(std::string_view word) {
  return word.size() > 1 && word[0] == '+' && word[1] != '-' ? word.substr(1) : word;
}

std::string written(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e18) return std::to_string(static_cast<long long>(value));
  std::ostringstream text;
  text.precision(17);
  text << value;
  return text.str();
}

}  // namespace

std::string_view TextWords::wordFrom(std::size_t start) {
  std::size_t end = start;
  while (end < text_.size() && !isBlank(text_[end]) && text_[end] != '\n') ++end;
  at_ = end;
  return text_.substr(start, end - start);
}

std::string_view TextWords::nextOnLine() {
  while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
  return wordFrom(at_);
}

std::string_view TextWords::next() {
  while (at_ < text_.size() && (isBlank(text_[at_]) || text_[at_] == '\n')) {
    if (text_[at_] == '\n') ++line_;
    ++at_;
  }
  return wordFrom(at_);
}

bool TextWords::skipLine() {
  const std::size_t end = text_.find('\n', at_);
  if (end == std::string_view::npos) {
    at_ = text_.size();
    return false;
  }
  at_ = end + 1;
  ++line_;
  return at_ < text_.size();
}

std::optional<double> numberWritten(std::string_view word) {
  const std::string_view digits = withoutPlus(word);
  double value = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (word.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

double finiteNumber(std::string_view word, const std::string& what) {
  const std::optional<double> value = numberWritten(word);
  if (!value) throw Malformed(what + " is " + (word.empty() ? "missing" : quoted(word) + ", not a number"));
  if (!std::isfinite(*value)) throw Malformed(what + " is not finite (" + quoted(word) + ")");
  return *value;
}

std::int64_t wholeNumber(std::string_view word, const std::string& what) {
  const std::string_view digits = withoutPlus(word);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (word.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw Malformed(what + " is " + (word.empty() ? "missing" : quoted(word) + ", not a whole number"));
  }
  return value;
}

unsigned int vertexIndex(double index, std::uint64_t vertex_count, std::uint64_t face) {
  const std::string named = "face " + std::to_string(face) + " names vertex " + written(index);
  if (!(index == std::floor(index))) throw Malformed(named + ", not a whole number");
  if (index < 0.0 || index >= static_cast<double>(vertex_count)) {
    throw Malformed(named + " of " + std::to_string(vertex_count));
  }
  return static_cast<unsigned int>(index);
}

void appendFan(const std::vector<unsigned int>& corners, std::vector<unsigned int>& triangles) {
  for (std::size_t k = 2; k < corners.size(); ++k) {
    triangles.insert(triangles.end(), {corners[0], corners[k - 1], corners[k]});
  }
}

}  // namespace internal
}  // namespace bramlock
