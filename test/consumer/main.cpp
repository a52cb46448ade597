#include <bramlock_arm_planning_core/console_color_codes.h>
#include <bramlock_arm_planning_core/logger.h>

int main() {
  BRAMLOCK_INFO("consumer {}", RESET.size());
  return bramlock::Logger::Instance()->counter_ == 1 ? 0 : 1;
}
