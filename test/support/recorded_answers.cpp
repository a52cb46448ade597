#include "recorded_answers.h"

#include <fstream>
#include <sstream>

namespace bramlock_test {

std::string toHex(const Answers& answers) {
  std::string hex;
  for (std::size_t i = 0; i < answers.size(); i += 4) {
    unsigned int digit = 0;
    for (std::size_t k = 0; k < 4; ++k) digit = (digit << 1) | (i + k < answers.size() && answers[i + k] ? 1u : 0u);
    hex += "0123456789abcdef"[digit];
  }
  return hex;
}

Answers fromHex(const std::string& hex, std::size_t count) {
  Answers answers;
  for (std::size_t i = 0; i < count && i / 4 < hex.size(); ++i) {
    const unsigned int digit = std::stoul(hex.substr(i / 4, 1), nullptr, 16);
    answers.push_back((digit >> (3 - i % 4)) & 1u);
  }
  return answers;
}

void writeAnswerSets(const std::string& path, const std::string& header, const AnswerSets& sets) {
  std::ofstream out(path);
  std::istringstream lines(header);
  for (std::string line; std::getline(lines, line);) out << "# " << line << '\n';
  for (const auto& [name, answers] : sets) out << name << ' ' << answers.size() << ' ' << toHex(answers) << '\n';
}

AnswerSets readAnswerSets(const std::string& path) {
  std::ifstream in(path);
  AnswerSets sets;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string configuration, check, road, hex;
    std::size_t count = 0;
    fields >> configuration >> check >> road >> count >> hex;
    sets[configuration + ' ' + check + ' ' + road] = fromHex(hex, count);
  }
  return sets;
}

}  // namespace bramlock_test
