// The matrix's table reaches the stream in one write, so a stream shared by
// threads (std::cout) sees neither interleaved pieces nor format-state
// changes from the print.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"

namespace {

using collision_detection::AllowedCollisionMatrix;

// Keeps what is written and counts the calls that write it.
class CountingBuffer : public std::streambuf {
 public:
  int writes = 0;
  std::string text;

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    ++writes;
    text.append(data, static_cast<std::size_t>(count));
    return count;
  }
  int_type overflow(int_type c) override {
    ++writes;
    if (!traits_type::eq_int_type(c, traits_type::eof())) text.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
};

AllowedCollisionMatrix threeLinks() {
  AllowedCollisionMatrix acm;
  acm.setEntry("base_link", "link1", true);
  acm.setEntry("link1", "link2", false);
  return acm;
}

}  // namespace

TEST(AllowedCollisionMatrixPrint, TheTableIsWrittenOnceWithTheSameText) {
  const AllowedCollisionMatrix acm = threeLinks();
  std::ostringstream reference;
  acm.print(reference);
  const std::string expected = std::string(25, ' ') + "\n" + std::string(16, ' ') + "  0  1  2\n" +
                               " base_link  0 |   -  1  -\n" + "     link1  1 |   1  -  0\n" +
                               "     link2  2 |   -  0  -\n";
  EXPECT_EQ(reference.str(), expected);

  CountingBuffer buffer;
  std::ostream stream(&buffer);
  // A width the caller left on the stream does not leak into the table.
  stream.width(40);
  acm.print(stream);
  EXPECT_EQ(buffer.writes, 1);
  EXPECT_EQ(buffer.text, expected);
}
