// The minimiser's single log file: one handle for the whole program, so
// fits never overlap. Lines end in CR LF; every failure is an InOutError.
#pragma once

#include <string>
#include <string_view>

namespace lumora::marqlog {

// Creates or truncates the file; a log still open is closed first.
void Open(const std::string& path);
bool IsOpen();
// Appends text as it stands; Line adds the CR LF line end.
void Write(std::string_view text);
void Line(std::string_view text = {});
// Closes the log (nothing happens when none is open). The handle is released
// even when the last flush fails.
void Close();

}  // namespace lumora::marqlog
