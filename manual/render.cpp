// The manuals as --help text and as roff.
#include <algorithm>

#include "manual/manual.h"

namespace lumora::manual {
namespace {

// --help lines: "  TERM" padded to the text's column, or the term on a line
// of its own when it is too long for that.
constexpr size_t kTextColumn = 16;

std::string Padded(std::string_view term) {
  std::string line = "  " + std::string(term);
  line.append(term.size() + 2 <= kTextColumn ? kTextColumn - term.size() : 2, ' ');
  return line;
}

std::string OptionLines(const std::vector<Item>& options) {
  std::string text;
  for (const Item& o : options)
    text += "  " + std::string(o.term) + "\n      " + std::string(o.text) + "\n";
  return text;
}

// Roff text: backslashes escaped, a leading dot or quote kept from being a
// request, and hyphens in commands and options written as minus signs.
std::string Escape(std::string_view text, bool code) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-' && code)
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// "--ini FILE": the option in bold, its argument in italics.
std::string RoffTerm(std::string_view term) {
  const size_t space = term.find(' ');
  if (space == std::string_view::npos || term[0] != '-')
    return "\\fB" + Escape(term, true) + "\\fR";
  return "\\fB" + Escape(term.substr(0, space), true) + "\\fR \\fI" +
         Escape(term.substr(space + 1), true) + "\\fR";
}

std::string Items(const std::vector<Item>& items, bool options) {
  std::string out;
  for (const Item& i : items)
    out += ".TP\n" + (options ? RoffTerm(i.term) : "\\fB" + Escape(i.term, true) + "\\fR") + "\n" +
           Escape(i.text, false) + "\n";
  return out;
}

std::string Section(std::string_view title, const std::string& body) {
  return body.empty() ? std::string() : ".SH " + std::string(title) + "\n" + body;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return std::toupper(c); });
  return out;
}

std::vector<Command> Sorted(std::vector<Command> commands) {
  std::sort(commands.begin(), commands.end(),
            [](const Command& a, const Command& b) { return a.name < b.name; });
  return commands;
}

}  // namespace

std::vector<std::string> OptionNames(std::string_view term) {
  std::vector<std::string> names;
  size_t start = 0;
  while ((start = term.find('-', start)) != std::string_view::npos) {
    if (start > 0 && term[start - 1] != ' ' && term[start - 1] != '[') {
      ++start;
      continue;
    }
    size_t end = start;
    while (end < term.size() &&
           (std::isalnum(static_cast<unsigned char>(term[end])) || term[end] == '-'))
      ++end;
    if (end > start + 1) names.emplace_back(term.substr(start, end - start));
    start = end;
  }
  return names;
}

std::string ProgramHelp(const Page& page) {
  std::string text =
      "Usage: " + std::string(page.program) + " " + std::string(page.synopsis) + "\n\nOptions:\n";
  for (const Item& o : page.options) text += Padded(o.term) + std::string(o.text) + "\n";
  if (page.commands.empty()) return text;
  text += "\nCommands:\n";
  for (const Command& c : Sorted(page.commands)) {
    text += "  " + std::string(c.name) + (c.usage.empty() ? "" : " " + std::string(c.usage));
    text += "\n      " + std::string(c.summary) + "\n";
  }
  return text;
}

std::string CommandHelp(const Page& page, const Command& command) {
  const std::string synopsis(page.synopsis.substr(0, page.synopsis.find("COMMAND")));
  std::string text = "Usage: " + std::string(page.program) + " " + synopsis +
                     std::string(command.name) + " " + std::string(command.usage) + "\n  " +
                     std::string(command.summary) + "\n";
  if (!command.options.empty()) text += "\nOptions:\n" + OptionLines(command.options);
  return text;
}

std::string Roff(const Page& page, std::string_view version, std::string_view date) {
  const std::string program(page.program);
  std::string out = ".TH " + Upper(program) + " 1 \"" + std::string(date) + "\" \"Lumora " +
                    std::string(version) + "\" \"User Commands\"\n";
  // Options and file names are not to be hyphenated or stretched.
  out += ".nh\n.ad l\n";
  out += ".SH NAME\n" + Escape(program, true) + " \\- " + Escape(page.purpose, false) + "\n";
  out +=
      ".SH SYNOPSIS\n\\fB" + Escape(program, true) + "\\fR " + Escape(page.synopsis, true) + "\n";
  std::string description;
  for (std::string_view paragraph : page.description)
    description += ".PP\n" + Escape(paragraph, false) + "\n";
  out += Section("DESCRIPTION", description);
  out += Section("OPTIONS", Items(page.options, true));
  std::string commands;
  for (const Command& c : Sorted(page.commands)) {
    commands += ".SS " + Escape(c.name, true) + "\n";
    commands += ".B " + Escape(program + " " + std::string(c.name), true) + "\n" +
                Escape(c.usage, true) + "\n.PP\n" + Escape(c.summary, false) + "\n";
    if (!c.options.empty()) commands += ".RS\n" + Items(c.options, true) + ".RE\n";
  }
  out += Section("COMMANDS", commands);
  out += Section("EXIT STATUS", Items(page.exitStatus, false));
  out += Section("ENVIRONMENT", Items(page.environment, false));
  out += Section("FILES", Items(page.files, false));
  std::string examples;
  for (const Item& e : page.examples)
    examples += ".PP\n" + Escape(e.text, false) + ":\n.PP\n.RS\n.nf\n" + Escape(e.term, true) +
                "\n.fi\n.RE\n";
  out += Section("EXAMPLES", examples);
  std::string seeAlso;
  for (std::string_view s : page.seeAlso) {
    const size_t paren = s.find('(');
    seeAlso += (seeAlso.empty() ? "" : ",\n") + std::string(".BR ") +
               Escape(s.substr(0, paren), true) + " " + std::string(s.substr(paren));
  }
  if (!seeAlso.empty()) out += ".SH SEE ALSO\n" + seeAlso + "\n";
  return out;
}

}  // namespace lumora::manual
