// Small path helpers the core shares.
#pragma once

#include <string>

namespace lumora {

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& path);

// The platform's temporary-files folder ($TMPDIR when it is an absolute
// path, else /tmp) without a trailing delimiter.
std::string TempFolder();

}  // namespace lumora
