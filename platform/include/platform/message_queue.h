// The window runtime's message queue, one per thread: a message posted now is
// delivered later, on the same thread, when the program pumps its queue; and
// the events the program answers at once (the build events). The program
// registers a handler per message code and one event handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

struct Message {
  std::uint32_t code = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

using MessageHandler = std::function<void(const Message&)>;

// A queue holds at most this many messages; posting to a full queue fails.
inline constexpr std::size_t kMaxPendingMessages = 10000;

// Appends to the calling thread's queue; false when the queue is full.
bool postMessage(const Message& message);
// Sets the calling thread's handler for a message code; an empty handler
// removes it. Messages without a handler are dropped when pumped.
void setMessageHandler(std::uint32_t code, MessageHandler handler);
// Delivers the messages that were pending when the call began, oldest first;
// messages posted by the handlers wait for the next pump. Returns how many
// were taken from the queue.
std::size_t pumpMessages();
std::size_t pendingMessages();
// Drops every pending message and every handler of the calling thread.
void clearMessages();

// Events sent while a key is built: progress every so many records, and the
// end of a build. The answer is the program's: non-zero cancels.
inline constexpr std::uint32_t kBuildProgressEvent = 5697;
inline constexpr std::uint32_t kBuildDoneEvent = 5698;

using EventHandler = std::function<int(std::uint32_t event, std::intptr_t argument)>;

// Sets the calling thread's event handler (empty: none).
void setEventHandler(EventHandler handler);
// The handler's answer; with no handler the answer is 1 (non-zero), as when
// there is no window to receive the event.
int sendEvent(std::uint32_t event, std::intptr_t argument);

}  // namespace platform
