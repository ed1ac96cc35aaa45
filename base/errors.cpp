#include "base/errors.h"

#include <cstring>

namespace lumora {

InOutError InOutError::FromErrno(const std::string& action, const std::string& path, int err) {
  return InOutError(action + " \"" + path + "\": " + std::strerror(err), err);
}

}  // namespace lumora
