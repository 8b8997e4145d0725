// The runtime's string stack, one per thread: text arguments of a driver call
// are pushed before the call (A last, so that the driver pops A first, then
// B) and text results are pushed by the driver when the call ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fileaccess {

class StringStack {
 public:
  void push(std::string text) { texts_.push_back(std::move(text)); }

  // The topmost text, taken off the stack; nullopt when the stack is empty.
  [[nodiscard]] std::optional<std::string> pop() {
    if (texts_.empty()) return std::nullopt;
    std::string top = std::move(texts_.back());
    texts_.pop_back();
    return top;
  }

  std::size_t size() const { return texts_.size(); }
  bool empty() const { return texts_.empty(); }
  void clear() { texts_.clear(); }

 private:
  std::vector<std::string> texts_;
};

// The calling thread's string stack.
StringStack& stringStack();

}  // namespace fileaccess
