// Small line files for the line-file and line-base tests, written into a
// fresh temporary folder per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linedb/line_file.h"
#include "tests/support/testfiles.h"

namespace lumora::testing {

using TempDir = TempFolder;

inline std::string Pad(const std::string& s, size_t width) {
  return s.size() < width ? s + std::string(width - s.size(), ' ') : s;
}

// The columns of one atomic data line. The numbers are blank-separated
// texts as they stand in the file.
struct AtomLine {
  std::string name = "Ar";
  std::string ion = "I";
  std::string numbers = "696.5431 10000 0.0639 0.0152 - -0.5";  // wavelength .. log gf
  std::string acc = "B+";
  std::string levels = "11.54835442 13.32785509 2 1 5 3";  // Ei Ek Ji Jk gi gk
  std::string confi = "3s2.3p5.(2P*<3/2>).4s";
  std::string confk = "3s2.3p5.(2P*<3/2>).4p";
  std::string termi = "2[3/2]*";
  std::string termk = "2[3/2]";
  std::string type = "E1";
  std::string refs = "L7760";

  std::string Text() const {
    return Pad(name, 2) + " " + Pad(ion, 4) + " " + numbers + " " + Pad(acc, 4) + " " + levels +
           " " + Pad(confi, 40) + " " + Pad(confk, 40) + " " + Pad(termi, 16) + " " +
           Pad(termk, 16) + " " + Pad(type, 8) + " " + refs;
  }
};

// An atomic line with the given wavelength text, told apart by its refs.
inline std::string LineAt(const std::string& wl, const std::string& tag = "") {
  AtomLine l;
  l.numbers = wl + " 100 1.5 - - -";
  l.refs = tag;
  return l.Text();
}

inline std::string Lines(const std::vector<std::string>& lines, const std::string& eol = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + eol;
  return s;
}

inline std::string AtomHeader(const std::string& eol = "\r\n") {
  return Lines({std::string(20, '-'), "  Ar   | Wavelength", "  I    |    Air", "       |    (nm)",
                std::string(20, '-')},
               eol);
}

// A record with every field set, as the extraction makes it (Aki in 10^8 s^-1).
inline TRecord SampleRecord() {
  TRecord r;
  r.Name = "Ar";
  r.Ion = "I";
  r.WaveLength = 696.5431;
  r.RelIntensity = 10000;
  r.Aki = 0.0639;  // 10^8 s^-1, as the writer takes it
  r.fik = 0.0152;
  r.S = -1;
  r.log_gf = -0.5;
  r.Acc = "B+";
  r.Ei_eV = 11.54835442;
  r.Ek_eV = 13.32785509;
  r.Ji = 2;
  r.Jk = 1;
  r.gi = 5;
  r.gk = 3;
  r.Confs = "3s2.3p5.(2P*<3/2>).4s - 3s2.3p5.(2P*<3/2>).4p";
  r.Terms = "2[3/2]* - 2[3/2]";
  r.LineType = "E1";
  r.TPRefs = "T5000";
  r.LineRefs = "L7760";
  return r;
}

// Every field of a record in one text, to compare records whole.
inline std::string RecordText(const TRecord& r) {
  std::ostringstream s;
  s.precision(17);
  s << r.Name.view() << '|' << r.Ion.view() << '|' << r.WaveLength << '|' << r.RelIntensity << '|'
    << r.Aki << '|' << r.fik << '|' << r.S << '|' << r.log_gf << '|' << r.Acc.view() << '|'
    << r.Ei_eV << '|' << r.Ek_eV << '|' << r.Confi.view() << '|' << r.Confk.view() << '|'
    << r.Confs.view() << '|' << r.Termi.view() << '|' << r.Termk.view() << '|' << r.Terms.view()
    << '|' << r.Ji << '|' << r.Jk << '|' << r.gi << '|' << r.gk << '|' << r.LineType.view() << '|'
    << r.TPRefs.view() << '|' << r.LineRefs.view() << '|' << r.Order;
  return s.str();
}

}  // namespace lumora::testing

namespace lumora {
// Readable failure messages for the record texts.
template <int N>
void PrintTo(const FixedString<N>& s, std::ostream* os) {
  *os << '"' << s.view() << '"';
}
}  // namespace lumora
