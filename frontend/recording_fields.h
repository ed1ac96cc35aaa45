// The options of reading a spectrum as texts (the command line's options,
// the window's dialog) and the request they make, shared by both front ends.
// The dialog's values are kept in the settings file's "_Spectrum" section.
#pragma once

#include <string>

#include "model/session.h"
#include "settings/settings.h"

namespace lumora {

struct SpectrumFields {
  std::string Fwhm;              // nm; empty: estimated from the spectrum
  std::string Window = "2";      // half window in FWHM
  std::string ShiftMax = "0.2";  // nm
  std::string MinSnr = "3";
  std::string Saturation;    // counts; empty: the spectrum's maximum value
  std::string DarkFile;      // empty: none
  std::string ResponseFile;  // empty: none
};

// A number field that is not a number raises ConvertError; the ranges are
// checked by the integration.
SpectrumRequest SpectrumRequestFromFields(const SpectrumFields& fields,
                                          const std::string& spectrumFile);

SpectrumFields LoadSpectrumFields(const Settings& settings);
void SaveSpectrumFields(Settings& settings, const SpectrumFields& fields);

}  // namespace lumora
