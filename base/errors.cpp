#include "base/errors.h"

#include <cstring>
#include <new>

namespace lumora {

InOutError InOutError::FromErrno(const std::string& action, const std::string& path, int err) {
  return InOutError(action + " \"" + path + "\": " + std::strerror(err), err);
}

std::string QuoteToken(std::string_view token) {
  if (token.size() <= kQuotedTokenLength) return std::string(token);
  size_t cut = kQuotedTokenLength;
  // Never split a UTF-8 sequence: back up over continuation bytes.
  while (cut > 0 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80) --cut;
  return std::string(token.substr(0, cut)) + "...";
}

std::string UserMessage(const std::exception& e, const std::string& what) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "Not enough memory for " + what + ".";
  return e.what();
}

}  // namespace lumora
