#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/contact_types.h"
#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

namespace AllowedCollision {
enum Type : int {
  NEVER = 0,        // the pair is checked
  ALWAYS = 1,       // the pair is skipped
  CONDITIONAL = 2,  // allowed when the pair's decider accepts the contact
};
}  // namespace AllowedCollision

// Settles a conditionally allowed collision for one contact; may be empty.
using ContactDeciderFn = std::function<bool(Contact&)>;

// Which collisions between named bodies are allowed. Pair entries are stored
// in both directions; a per-name default, where present, takes precedence
// over every pair entry of that name.
class BRAMLOCK_EXPORT AllowedCollisionMatrix {
 public:
  AllowedCollisionMatrix() = default;
  // Every pair of the names, each name with itself included.
  AllowedCollisionMatrix(const std::vector<std::string>& names, bool allowed);

  bool hasEntry(const std::string& name) const;
  bool hasEntry(const std::string& name1, const std::string& name2) const;

  // The pair entry alone, no default consulted; the out-parameter is left
  // untouched when there is none.
  bool getEntry(const std::string& name1, const std::string& name2, AllowedCollision::Type& type) const;
  bool getEntry(const std::string& name1, const std::string& name2, ContactDeciderFn& fn) const;
  bool getDefaultEntry(const std::string& name, AllowedCollision::Type& type) const;
  bool getDefaultEntry(const std::string& name, ContactDeciderFn& fn) const;

  // The effective answer for a pair: from the defaults when either name has
  // one, else from the pair entry.
  bool getAllowedCollision(const std::string& name1, const std::string& name2, AllowedCollision::Type& type) const;
  bool getAllowedCollision(const std::string& name1, const std::string& name2, ContactDeciderFn& fn) const;

  // Every name with a pair entry, ascending; names with only a default are left out.
  void getAllEntryNames(std::vector<std::string>& names) const;

  // A table of the effective answers for every pair of getAllEntryNames.
  void print(std::ostream& out) const;

  void setEntry(const std::string& name1, const std::string& name2, bool allowed);
  void setEntry(const std::string& name1, const std::string& name2, const ContactDeciderFn& fn);
  // The name against every name that already has entries (not against itself).
  void setEntry(const std::string& name, bool allowed);
  void setEntry(const std::string& name, const std::vector<std::string>& other_names, bool allowed);
  void setEntry(const std::vector<std::string>& names1, const std::vector<std::string>& names2, bool allowed);
  // Overwrites the type of every existing pair entry; deciders stay.
  void setEntry(bool allowed);

  void setDefaultEntry(const std::string& name, bool allowed);
  void setDefaultEntry(const std::string& name, const ContactDeciderFn& fn);

  void removeEntry(const std::string& name1, const std::string& name2);
  // Every pair entry and decider of the name; its defaults stay.
  void removeEntry(const std::string& name);

  void clear();

  // Drawn afresh by every change, never reused: equal revisions mean equal
  // answers (a copy shares its source's until either changes), so answers
  // remembered under a revision stay right while the revision does.
  std::uint64_t revision() const { return revision_.value; }

 private:
  // A number no matrix of the process has drawn before.
  static std::uint64_t freshRevision() noexcept;

  struct Revision {
    Revision() noexcept : value(freshRevision()) {}
    Revision(const Revision&) = default;
    Revision& operator=(const Revision&) = default;
    // The moved-from matrix no longer holds the contents the number stands for.
    Revision(Revision&& other) noexcept : value(other.value) { other.renew(); }
    Revision& operator=(Revision&& other) noexcept {
      value = other.value;
      if (&other != this) other.renew();
      return *this;
    }
    void renew() noexcept { value = freshRevision(); }

    std::uint64_t value;
  };

  template <typename Value>
  using PairMap = std::map<std::string, std::map<std::string, Value>>;

  PairMap<AllowedCollision::Type> pair_entries;
  PairMap<ContactDeciderFn> pair_deciders;
  std::map<std::string, AllowedCollision::Type> default_entries;
  std::map<std::string, ContactDeciderFn> default_deciders;
  Revision revision_;
};

using AllowedCollisionMatrixPtr = std::shared_ptr<AllowedCollisionMatrix>;
using AllowedCollisionMatrixConstPtr = std::shared_ptr<const AllowedCollisionMatrix>;

}  // namespace collision_detection
