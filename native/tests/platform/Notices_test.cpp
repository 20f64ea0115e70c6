#include "platform/Notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/VirtualRunLoop.h"

namespace nolari::platform {
namespace {

// Every backend delivers through these lists, so the awkward cases are
// settled here once: a handler that removes a later one, or adds one, while
// a notice is being delivered.
TEST(NoticeHandlers,
     HandlersChangedDuringADeliveryTakeEffectAtOnceForRemovalsAndNextTimeForAdditions) {
  auto handlers = NoticeHandlers<std::string>::make();
  std::vector<std::string> calls;
  NoticeHandlers<std::string>::Token second = 0;
  handlers->add([&](const std::string& notice) {
    calls.push_back("first " + notice);
    handlers->remove(second);
    handlers->add([&](const std::string& later) { calls.push_back("added " + later); });
  });
  second = handlers->add([&](const std::string& notice) { calls.push_back("second " + notice); });

  VirtualRunLoop loop;
  handlers->post(loop, "one");
  EXPECT_TRUE(calls.empty());
  loop.runUntilIdle();
  EXPECT_EQ(calls, (std::vector<std::string>{"first one"}));

  // A list that is gone by the time its posted notice runs delivers nothing.
  handlers->post(loop, "two");
  handlers.reset();
  loop.runUntilIdle();
  EXPECT_EQ(calls.size(), 1u);
}

}  // namespace
}  // namespace nolari::platform
