#include "base/errors.h"

#include <cstring>
#include <new>

namespace lumora {

InOutError InOutError::FromErrno(const std::string& action, const std::string& path, int err) {
  return InOutError(action + " \"" + path + "\": " + std::strerror(err), err);
}

std::string UserMessage(const std::exception& e, const std::string& what) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "Not enough memory for " + what + ".";
  return e.what();
}

}  // namespace lumora
