// The manual pages and the programs' --help come from one text: every
// command and option of a page is in --help, and every option --help names
// is described on the page.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

using Options = std::set<std::string>;

// A page's options by command ("" for the program's own), as the roff of
// the build lists them: the bold term of a tagged paragraph.
std::map<std::string, Options> PageOptions(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::map<std::string, Options> options;
  std::string line, command, previous;
  while (std::getline(in, line)) {
    auto unescape = [](std::string s) { return std::regex_replace(s, std::regex(R"(\\-)"), "-"); };
    if (line.rfind(".SS ", 0) == 0) {
      command = unescape(line.substr(4));
      options[command];
    } else if (previous == ".TP" && line.rfind("\\fB\\-", 0) == 0) {
      options[command].insert(unescape(line.substr(3, line.find("\\fR") - 3)));
    }
    previous = line;
  }
  return options;
}

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << command << "\n" << text;
  return text;
}

Options OptionsIn(const std::string& text) {
  Options names;
  const std::regex option(R"((^|[ \[])(--?[a-z][-a-z]*))");
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
    names.insert((*it)[2]);
  return names;
}

// The commands an --help lists under "Commands:".
std::set<std::string> HelpCommands(const std::string& help) {
  std::set<std::string> names;
  const std::string block = help.substr(help.find("\nCommands:\n"));
  const std::regex command(R"(\n  ([a-z][-a-z]*))");
  for (std::sregex_iterator it(block.begin(), block.end(), command), end; it != end; ++it)
    names.insert((*it)[1]);
  return names;
}

struct ProgramCase {
  std::string program;
  std::string page;
};

class ManualTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ManualTest, PageAndHelpNameTheSameCommandsAndOptions) {
  const auto& [program, page] = GetParam();
  const auto pageOptions = PageOptions(page);
  const std::string help = Output("'" + program + "' --help");
  EXPECT_EQ(pageOptions.at(""), OptionsIn(help.substr(0, help.find("\nCommands:\n"))));

  std::set<std::string> pageCommands;
  for (const auto& [command, options] : pageOptions) {
    if (command.empty()) continue;
    pageCommands.insert(command);
    const std::string commandHelp = Output("'" + program + "' " + command + " --help");
    // What follows the program's own options in the usage line.
    const std::string own = commandHelp.substr(commandHelp.find(" " + command + " "));
    // Every option the usage names is described, in the page and in --help.
    EXPECT_EQ(options, OptionsIn(own.substr(0, own.find('\n')))) << command;
    EXPECT_EQ(options, OptionsIn(own)) << command;
  }
  if (help.find("\nCommands:\n") != std::string::npos) {
    EXPECT_EQ(pageCommands, HelpCommands(help));
  }
}

std::vector<ProgramCase> Programs() {
  std::vector<ProgramCase> cases = {{LUMORA_CLI, LUMORA_MANPAGES "/lumora-cli.1"}};
#ifdef LUMORA_WINDOW
  cases.push_back({LUMORA_WINDOW, LUMORA_MANPAGES "/lumora.1"});
#endif
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Programs, ManualTest, ::testing::ValuesIn(Programs()),
                         [](const auto& info) {
                           return info.param.page.find("lumora-cli") != std::string::npos
                                      ? std::string("cli")
                                      : std::string("window");
                         });

TEST(ManualPage, RendersWithoutWarnings) {
  for (const ProgramCase& c : Programs()) {
    const std::string text =
        Output("MANWIDTH=80 man --warnings -l '" + c.page + "' 2>&1 >/dev/null || echo failed");
    EXPECT_EQ(text, "") << c.page;
  }
}

}  // namespace
