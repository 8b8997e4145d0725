#include "platform/message_queue.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::Message;

class MessageQueue : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::clearMessages();
    platform::setEventHandler({});
  }
};

TEST_F(MessageQueue, PostedMessagesWaitForThePump) {
  std::vector<std::intptr_t> seen;
  platform::setMessageHandler(9248, [&](const Message& m) {
    seen.push_back(m.lParam);
    if (m.lParam == 1) {
      EXPECT_TRUE(platform::postMessage({9248, 0, 3}));  // for the next pump
    }
  });
  EXPECT_TRUE(platform::postMessage({9248, 0, 1}));
  EXPECT_TRUE(platform::postMessage({77, 0, 99}));  // no handler: dropped
  EXPECT_TRUE(platform::postMessage({9248, 0, 2}));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(platform::pendingMessages(), 3u);

  EXPECT_EQ(platform::pumpMessages(), 3u);
  EXPECT_EQ(seen, (std::vector<std::intptr_t>{1, 2}));
  EXPECT_EQ(platform::pumpMessages(), 1u);
  EXPECT_EQ(seen, (std::vector<std::intptr_t>{1, 2, 3}));
  EXPECT_EQ(platform::pumpMessages(), 0u);
}

TEST_F(MessageQueue, EachThreadHasItsOwnQueue) {
  EXPECT_TRUE(platform::postMessage({1, 0, 0}));
  std::size_t otherPending = 99;
  std::thread([&] { otherPending = platform::pendingMessages(); }).join();
  EXPECT_EQ(otherPending, 0u);
  EXPECT_EQ(platform::pendingMessages(), 1u);
}

TEST_F(MessageQueue, FullQueueRefusesPosts) {
  for (std::size_t i = 0; i < platform::kMaxPendingMessages; ++i) {
    ASSERT_TRUE(platform::postMessage({1, 0, 0}));
  }
  EXPECT_FALSE(platform::postMessage({1, 0, 0}));
}

TEST_F(MessageQueue, BuildEventsAskTheProgram) {
  // Without a handler the answer is non-zero: a build that cannot ask is cancelled.
  EXPECT_NE(platform::sendEvent(platform::kBuildProgressEvent, 0), 0);
  std::vector<std::uint32_t> events;
  platform::setEventHandler([&](std::uint32_t event, std::intptr_t) {
    events.push_back(event);
    return event == platform::kBuildDoneEvent ? 7 : 0;
  });
  EXPECT_EQ(platform::sendEvent(platform::kBuildProgressEvent, 0), 0);
  EXPECT_EQ(platform::sendEvent(platform::kBuildDoneEvent, 0), 7);
  EXPECT_EQ(events, (std::vector<std::uint32_t>{5697, 5698}));
}

}  // namespace
