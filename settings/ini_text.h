// Line-wise editing of a settings file's text. A write changes one key's
// line, or adds one line (and a section header when the section is new);
// every other line keeps its bytes, hand-made oddities and comments included.
// Line ends are written as CR LF.
#pragma once

#include <string>

namespace lumora {

// The text with section's key set to value. The key's line is found as the
// INI reader finds it: section and key names compare without regard to case,
// and of duplicate keys the last one counts.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace lumora
