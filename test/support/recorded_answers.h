#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace bramlock_test {

// Check answers (true for valid) recorded in a fixture file, one set a line:
// "<configuration> <check> <road> <count> <hex>", four answers a hex digit,
// the first in the highest bit.
using Answers = std::vector<bool>;
// By "<configuration> <check> <road>".
using AnswerSets = std::map<std::string, Answers>;

std::string toHex(const Answers& answers);
Answers fromHex(const std::string& hex, std::size_t count);

// Writes the sets below a comment line per line of `header`.
void writeAnswerSets(const std::string& path, const std::string& header, const AnswerSets& sets);
// Every set of the file, whole; nothing for a file that cannot be read.
AnswerSets readAnswerSets(const std::string& path);

}  // namespace bramlock_test
