// Small path helpers the core shares.
#pragma once

#include <string>
#include <vector>

namespace lumora {

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& path);

// The platform's temporary-files folder ($TMPDIR when it is an absolute
// path, else /tmp) without a trailing delimiter.
std::string TempFolder();

// Raises Error("\"<output>\" is also an input of this command") when
// `output` is the same file as one of `inputs`: the same device and inode,
// links followed. An output or input that does not exist (yet) is no file
// and passes; so does an empty name.
void RefuseOutputThatIsAnInput(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace lumora
