// The session of the harnesses that read measurements and spectra: the
// bundled argon data, read once per process.
#pragma once

#include <string>

#include "model/session.h"

namespace lumora::fuzz {

inline Session& ArgonSession() {
  static Session* const session = [] {
    auto* s = new Session(SessionOptions{"/tmp", [](const std::string&) {}});
    s->ChangeElement(
        {std::string(LUMORA_SOURCE_DIR) + "/data/database", "Ar_I_levels.txt", "Ar, I"});
    return s;
  }();
  return *session;
}

}  // namespace lumora::fuzz
