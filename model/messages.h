// Plain messages: a reader that stops early but leaves usable data tells the
// user why and ends normally. The front end decides where they go.
#pragma once

#include <functional>
#include <string>

namespace lumora {

using MessageHandler = std::function<void(const std::string& text)>;

// Installs the handler and returns the previous one. Without a handler,
// messages go to standard error.
MessageHandler SetMessageHandler(MessageHandler handler);
void ShowMessage(const std::string& text);

}  // namespace lumora
