// lumora-make-manpage PROGRAM VERSION DATE OUTPUT: writes the manual page of
// lumora or lumora-cli in roff; run by the build.
#include <fstream>
#include <iostream>
#include <string>

#include "manual/manual.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: lumora-make-manpage lumora|lumora-cli VERSION DATE OUTPUT\n";
    return 1;
  }
  const std::string program = argv[1];
  const lumora::manual::Page* page = program == "lumora"       ? &lumora::manual::WindowPage()
                                     : program == "lumora-cli" ? &lumora::manual::CliPage()
                                                               : nullptr;
  if (!page) {
    std::cerr << "lumora-make-manpage: no manual for " << program << "\n";
    return 1;
  }
  std::ofstream out(argv[4], std::ios::binary);
  out << lumora::manual::Roff(*page, argv[2], argv[3]);
  out.close();
  if (!out) {
    std::cerr << "lumora-make-manpage: cannot write " << argv[4] << "\n";
    return 1;
  }
  return 0;
}
