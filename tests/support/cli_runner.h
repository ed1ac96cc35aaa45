// lumora-cli run by a shell as a user runs it: in a folder, with an
// environment of the test's choosing, no standard input, and its standard
// output and error caught whole.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/testfiles.h"

namespace lumora::testing {

struct CliRun {
  int status = -1;  // the exit code; -1 when the program did not exit
  std::string out;
  std::string err;
};

inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `cd folder && environment lumora-cli arguments`. The environment is
// shell text put before the program: assignments ("TMPDIR=/x"), a command
// ("env -i HOME=/h") or commands ended by "&&". The arguments are shell
// text too, quoted by the caller.
inline CliRun RunCli(const std::string& folder, const std::string& arguments,
                     const std::string& environment = "") {
  // The outputs go to a folder of their own, so that the folder the
  // program works in holds only what the program wrote.
  const TempFolder outputs;
  const std::string command = "cd " + ShellQuoted(folder) + " && " + environment + " " +
                              ShellQuoted(LUMORA_CLI) + " " + arguments + " >" +
                              ShellQuoted(outputs / "out") + " 2>" + ShellQuoted(outputs / "err") +
                              " </dev/null";
  const int raw = std::system(command.c_str());
  CliRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(outputs / "out");
  run.err = ReadFile(outputs / "err");
  return run;
}

// A settings file for the bundled argon database, its default element.
inline std::string ArgonCliSettings() {
  return std::string("[_Files]\nDatabase=") + LUMORA_SOURCE_DIR + "/data/database\n" +
         "[_Parameters]\nDefaultAtom=0\n[Argon]\nLevels=Ar_I_levels.txt\nLines=Ar, I\n" +
         "Boltzmax=4\nm=39.948\n";
}

// The lines of a text, each without its line end (LF or CR LF).
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = text.find('\n', start)) != std::string::npos; start = pos + 1) {
    std::string line = text.substr(start, pos - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace lumora::testing
