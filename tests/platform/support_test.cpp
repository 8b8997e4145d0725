// The shared test helpers that other layers rely on for crash and sharing
// tests: child processes must report how they ended, and a hung child must
// not hang the test.
#include <csignal>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace {

using support::ChildProcess;
using support::ChildStatus;

TEST(ChildProcess, ReportsHowTheChildEnded) {
  {
    ChildProcess child([](support::ChildChannel&) { return 3; });
    EXPECT_TRUE(child.wait().exitedWith(3));
  }
  {
    ChildProcess child([](support::ChildChannel&) -> int { throw std::runtime_error("x"); });
    EXPECT_TRUE(child.wait().exitedWith(125));
  }
  {
    ChildProcess child([](support::ChildChannel&) {
      std::raise(SIGTERM);
      return 0;
    });
    EXPECT_TRUE(child.wait().killedBy(SIGTERM));
  }
}

TEST(ChildProcess, HungChildIsKilledAtTheTimeout) {
  ChildProcess child([](support::ChildChannel& ch) {
    char c = 0;
    ch.receive(&c, std::chrono::hours(1));
    return 0;
  });
  const ChildStatus status = child.wait(std::chrono::milliseconds(100));
  EXPECT_EQ(status.kind, ChildStatus::Kind::kTimedOut) << status.describe();
}

TEST(ChildProcess, ChannelCarriesBytesBothWays) {
  ChildProcess child([](support::ChildChannel& ch) {
    char c = 0;
    if (!ch.receive(&c, std::chrono::seconds(20))) return 1;
    ch.send(static_cast<char>(c + 1));
    return 0;
  });
  ASSERT_TRUE(child.channel().send('a'));
  EXPECT_TRUE(child.channel().expect('b', std::chrono::seconds(20)));
  EXPECT_TRUE(child.wait().exitedWith(0));
  char c = 0;
  EXPECT_FALSE(child.channel().receive(&c, std::chrono::milliseconds(10)));  // child gone
}

}  // namespace
