#include "model/messages.h"

#include <iostream>

namespace lumora {
namespace {
MessageHandler& Handler() {
  static MessageHandler handler;
  return handler;
}
}  // namespace

MessageHandler SetMessageHandler(MessageHandler handler) {
  MessageHandler old = std::move(Handler());
  Handler() = std::move(handler);
  return old;
}

void ShowMessage(const std::string& text) {
  if (Handler()) Handler()(text);
  else std::cerr << text << "\n";
}

}  // namespace lumora
