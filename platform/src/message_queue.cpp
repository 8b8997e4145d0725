#include "platform/message_queue.h"

#include <deque>
#include <unordered_map>
#include <utility>

namespace platform {

namespace {

struct ThreadQueue {
  std::deque<Message> pending;
  std::unordered_map<std::uint32_t, MessageHandler> handlers;
  EventHandler eventHandler;
};

ThreadQueue& queue() {
  thread_local ThreadQueue q;
  return q;
}

}  // namespace

bool postMessage(const Message& message) {
  ThreadQueue& q = queue();
  if (q.pending.size() >= kMaxPendingMessages) return false;
  q.pending.push_back(message);
  return true;
}

void setMessageHandler(std::uint32_t code, MessageHandler handler) {
  ThreadQueue& q = queue();
  if (handler) {
    q.handlers[code] = std::move(handler);
  } else {
    q.handlers.erase(code);
  }
}

std::size_t pumpMessages() {
  ThreadQueue& q = queue();
  std::size_t count = q.pending.size();
  std::size_t taken = 0;
  // A handler may post, pump again or clear the queue: look at the queue
  // afresh for every message.
  while (taken < count && !q.pending.empty()) {
    const Message m = q.pending.front();
    q.pending.pop_front();
    ++taken;
    auto it = q.handlers.find(m.code);
    if (it == q.handlers.end()) continue;
    // A copy: the handler may replace or remove itself.
    const MessageHandler handler = it->second;
    handler(m);
    if (q.pending.size() < count - taken) count = taken + q.pending.size();
  }
  return taken;
}

std::size_t pendingMessages() { return queue().pending.size(); }

void clearMessages() {
  ThreadQueue& q = queue();
  q.pending.clear();
  q.handlers.clear();
}

void setEventHandler(EventHandler handler) { queue().eventHandler = std::move(handler); }

int sendEvent(std::uint32_t event, std::intptr_t argument) {
  const EventHandler handler = queue().eventHandler;  // may be replaced while it runs
  if (!handler) return 1;
  return handler(event, argument);
}

}  // namespace platform
