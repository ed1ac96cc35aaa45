// Shared pieces of the fuzz harnesses: a scratch folder per process and a
// check that stops the run on a broken property.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

namespace lumora::fuzz {

// A folder of this process below the temporary folder, removed at exit.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/lumora-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    static const std::string removal = "rm -rf '" + pattern + "'";
    std::atexit([] { (void)std::system(removal.c_str()); });
    return pattern;
  }();
  return folder;
}

inline std::string WriteScratchFile(const std::string& name, std::string_view content) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

// A failed property: report it and crash, so that the fuzzer keeps the input.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken property: %s\n", what);
  std::abort();
}

// The input cut in two at the first occurrence of separator (the second part
// empty when there is none).
inline std::pair<std::string_view, std::string_view> SplitInput(std::string_view input,
                                                                std::string_view separator) {
  size_t at = input.find(separator);
  if (at == std::string_view::npos) return {input, {}};
  return {input.substr(0, at), input.substr(at + separator.size())};
}

}  // namespace lumora::fuzz
