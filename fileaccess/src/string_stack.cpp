#include "fileaccess/string_stack.h"

namespace fileaccess {

StringStack& stringStack() {
  thread_local StringStack stack;
  return stack;
}

}  // namespace fileaccess
