// The manuals of lumora and lumora-cli, kept once: the build renders them as
// manual pages (roff) and the programs print their --help from them, so the
// two cannot tell different stories.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumora::manual {

// A term and what it means: an option ("--ini FILE"), an exit status, a
// variable, a file or an example's command line.
struct Item {
  std::string_view term;
  std::string_view text;
};

struct Command {
  std::string_view name;
  std::string_view usage;    // the arguments after the name, as --help shows them
  std::string_view summary;  // the line under the usage in --help
  std::vector<Item> options;
};

struct Page {
  std::string_view program;
  std::string_view purpose;                   // the NAME line after the program
  std::string_view synopsis;                  // after the program, as the usage line shows it
  std::vector<std::string_view> description;  // paragraphs
  std::vector<Item> options;
  std::vector<Command> commands;
  std::vector<Item> exitStatus;
  std::vector<Item> environment;
  std::vector<Item> files;
  std::vector<Item> examples;
  std::vector<std::string_view> seeAlso;
};

const Page& CliPage();
const Page& WindowPage();

// The command of lumora-cli with this name; nullptr for none.
const Command* FindCommand(std::string_view name);

// The option names of a term: "--ini" of "--ini FILE", "--help" and "-h" of
// "--help, -h".
std::vector<std::string> OptionNames(std::string_view term);

// --help texts.
std::string ProgramHelp(const Page& page);
std::string CommandHelp(const Page& page, const Command& command);

// The manual page in roff (man(7)); `date` goes into its title line.
std::string Roff(const Page& page, std::string_view version, std::string_view date);

}  // namespace lumora::manual
