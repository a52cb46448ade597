#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"

#include <algorithm>
#include <atomic>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace collision_detection {

namespace {

AllowedCollision::Type typeOf(bool allowed) { return allowed ? AllowedCollision::ALWAYS : AllowedCollision::NEVER; }

// The value stored for the pair, when there is one.
template <typename Value>
const Value* findPair(const std::map<std::string, std::map<std::string, Value>>& pairs, const std::string& name1,
                      const std::string& name2) {
  const auto outer = pairs.find(name1);
  if (outer == pairs.end()) return nullptr;
  const auto inner = outer->second.find(name2);
  return inner == outer->second.end() ? nullptr : &inner->second;
}

template <typename Value>
bool copyFound(const Value* found, Value& out) {
  if (!found) return false;
  out = *found;
  return true;
}

template <typename Value>
const Value* findDefault(const std::map<std::string, Value>& defaults, const std::string& name) {
  const auto it = defaults.find(name);
  return it == defaults.end() ? nullptr : &it->second;
}

template <typename Value>
void erasePair(std::map<std::string, std::map<std::string, Value>>& pairs, const std::string& name1,
               const std::string& name2) {
  const auto outer = pairs.find(name1);
  if (outer != pairs.end()) outer->second.erase(name2);
}

template <typename Value>
void eraseName(std::map<std::string, std::map<std::string, Value>>& pairs, const std::string& name) {
  pairs.erase(name);
  for (auto& entry : pairs) entry.second.erase(name);
}

// The stricter of two default types: NEVER over CONDITIONAL over ALWAYS.
AllowedCollision::Type combineDefaults(AllowedCollision::Type t1, AllowedCollision::Type t2) {
  if (t1 == AllowedCollision::NEVER || t2 == AllowedCollision::NEVER) return AllowedCollision::NEVER;
  if (t1 == AllowedCollision::CONDITIONAL || t2 == AllowedCollision::CONDITIONAL) return AllowedCollision::CONDITIONAL;
  return AllowedCollision::ALWAYS;
}

char cellOf(const AllowedCollisionMatrix& matrix, const std::string& name1, const std::string& name2) {
  AllowedCollision::Type type;
  if (!matrix.getAllowedCollision(name1, name2, type)) return '-';
  switch (type) {
    case AllowedCollision::ALWAYS:
      return '1';
    case AllowedCollision::NEVER:
      return '0';
    default:
      return '?';
  }
}

// Digits needed for every index of count names, at least two.
int indexDigits(size_t count) {
  int digits = 2;
  for (size_t limit = 100; count > limit - 1; limit *= 10) ++digits;
  return digits;
}

// Shared by every matrix of the process, so no two changes draw the same number.
std::atomic<std::uint64_t> next_revision{1};

}  // namespace

std::uint64_t AllowedCollisionMatrix::freshRevision() noexcept {
  return next_revision.fetch_add(1, std::memory_order_relaxed);
}

AllowedCollisionMatrix::AllowedCollisionMatrix(const std::vector<std::string>& names, bool allowed) {
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i; j < names.size(); ++j) setEntry(names[i], names[j], allowed);
  }
}

bool AllowedCollisionMatrix::hasEntry(const std::string& name) const { return pair_entries.count(name) > 0; }

bool AllowedCollisionMatrix::hasEntry(const std::string& name1, const std::string& name2) const {
  return findPair(pair_entries, name1, name2) != nullptr;
}

bool AllowedCollisionMatrix::getEntry(const std::string& name1, const std::string& name2,
                                      AllowedCollision::Type& type) const {
  return copyFound(findPair(pair_entries, name1, name2), type);
}

bool AllowedCollisionMatrix::getEntry(const std::string& name1, const std::string& name2, ContactDeciderFn& fn) const {
  return copyFound(findPair(pair_deciders, name1, name2), fn);
}

bool AllowedCollisionMatrix::getDefaultEntry(const std::string& name, AllowedCollision::Type& type) const {
  return copyFound(findDefault(default_entries, name), type);
}

bool AllowedCollisionMatrix::getDefaultEntry(const std::string& name, ContactDeciderFn& fn) const {
  return copyFound(findDefault(default_deciders, name), fn);
}

bool AllowedCollisionMatrix::getAllowedCollision(const std::string& name1, const std::string& name2,
                                                 AllowedCollision::Type& type) const {
  const AllowedCollision::Type* t1 = findDefault(default_entries, name1);
  const AllowedCollision::Type* t2 = findDefault(default_entries, name2);
  if (!t1 && !t2) return getEntry(name1, name2, type);
  if (t1 && t2) {
    type = combineDefaults(*t1, *t2);
  } else {
    type = t1 ? *t1 : *t2;
  }
  return true;
}

bool AllowedCollisionMatrix::getAllowedCollision(const std::string& name1, const std::string& name2,
                                                 ContactDeciderFn& fn) const {
  const ContactDeciderFn* f1 = findDefault(default_deciders, name1);
  const ContactDeciderFn* f2 = findDefault(default_deciders, name2);
  if (!f1 && !f2) return getEntry(name1, name2, fn);
  if (f1 && f2) {
    // Both must accept; the second is not asked once the first refuses.
    fn = [first = *f1, second = *f2](Contact& contact) { return first(contact) && second(contact); };
  } else {
    fn = f1 ? *f1 : *f2;
  }
  return true;
}

void AllowedCollisionMatrix::getAllEntryNames(std::vector<std::string>& names) const {
  names.clear();
  for (const auto& entry : pair_entries) names.push_back(entry.first);
}

// Formatted in a buffer and written once: the width setting of a stream
// shared with other threads (std::cout) would otherwise be a data race.
void AllowedCollisionMatrix::print(std::ostream& stream) const {
  std::ostringstream out;
  std::vector<std::string> names;
  getAllEntryNames(names);
  size_t longest = 4;
  for (const std::string& name : names) longest = std::max(longest, name.size());
  const int name_width = static_cast<int>(longest) + 1;
  const int digits = indexDigits(names.size());

  for (int line = 0; line < digits; ++line) {
    out << std::string(name_width + digits + 4, ' ');
    for (size_t i = 0; i < names.size(); ++i) {
      std::ostringstream index;
      index << std::setw(digits) << i;
      out << std::setw(3) << index.str()[line];
    }
    out << '\n';
  }
  for (size_t i = 0; i < names.size(); ++i) {
    out << std::setw(name_width) << names[i] << std::setw(digits + 1) << i << " | ";
    for (const std::string& other : names) out << std::setw(3) << cellOf(*this, names[i], other);
    out << '\n';
  }
  const std::string text = out.str();
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  stream.flush();
}

void AllowedCollisionMatrix::setEntry(const std::string& name1, const std::string& name2, bool allowed) {
  revision_.renew();
  const AllowedCollision::Type type = typeOf(allowed);
  pair_entries[name1][name2] = type;
  pair_entries[name2][name1] = type;
  erasePair(pair_deciders, name1, name2);
  erasePair(pair_deciders, name2, name1);
}

void AllowedCollisionMatrix::setEntry(const std::string& name1, const std::string& name2, const ContactDeciderFn& fn) {
  revision_.renew();
  pair_entries[name1][name2] = AllowedCollision::CONDITIONAL;
  pair_entries[name2][name1] = AllowedCollision::CONDITIONAL;
  pair_deciders[name1][name2] = fn;
  pair_deciders[name2][name1] = fn;
}

void AllowedCollisionMatrix::setEntry(const std::string& name, bool allowed) {
  // The names are taken first: the loop adds name as an outer key itself.
  std::vector<std::string> others;
  getAllEntryNames(others);
  for (const std::string& other : others) {
    if (other != name) setEntry(name, other, allowed);
  }
}

void AllowedCollisionMatrix::setEntry(const std::string& name, const std::vector<std::string>& other_names,
                                      bool allowed) {
  for (const std::string& other : other_names) {
    if (other != name) setEntry(other, name, allowed);
  }
}

void AllowedCollisionMatrix::setEntry(const std::vector<std::string>& names1, const std::vector<std::string>& names2,
                                      bool allowed) {
  for (const std::string& name : names1) setEntry(name, names2, allowed);
}

void AllowedCollisionMatrix::setEntry(bool allowed) {
  revision_.renew();
  const AllowedCollision::Type type = typeOf(allowed);
  for (auto& outer : pair_entries) {
    for (auto& inner : outer.second) inner.second = type;
  }
}

void AllowedCollisionMatrix::setDefaultEntry(const std::string& name, bool allowed) {
  revision_.renew();
  default_entries[name] = typeOf(allowed);
  default_deciders.erase(name);
}

void AllowedCollisionMatrix::setDefaultEntry(const std::string& name, const ContactDeciderFn& fn) {
  revision_.renew();
  default_entries[name] = AllowedCollision::CONDITIONAL;
  default_deciders[name] = fn;
}

void AllowedCollisionMatrix::removeEntry(const std::string& name1, const std::string& name2) {
  revision_.renew();
  erasePair(pair_entries, name1, name2);
  erasePair(pair_entries, name2, name1);
  erasePair(pair_deciders, name1, name2);
  erasePair(pair_deciders, name2, name1);
}

void AllowedCollisionMatrix::removeEntry(const std::string& name) {
  revision_.renew();
  eraseName(pair_entries, name);
  eraseName(pair_deciders, name);
}

void AllowedCollisionMatrix::clear() {
  revision_.renew();
  pair_entries.clear();
  pair_deciders.clear();
  default_entries.clear();
  default_deciders.clear();
}

}  // namespace collision_detection
