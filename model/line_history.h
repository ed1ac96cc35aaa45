// The undo stack of a session's lines: intensity edits, lines taken in or
// left out, and whole replacements of the lines (a measurement read, a
// spectrum integrated, a line analysis), each kept as the lines were before
// it. It also knows whether the lines hold edits that were not saved: a
// replacement starts clean, an edit makes them unsaved, saving marks them
// clean again, and undoing a replacement brings back the mark of the lines
// it brings back.
#pragma once

#include <deque>
#include <optional>
#include <string>

#include "model/element_data.h"
#include "model/line_integration.h"

namespace lumora {

class LineHistory {
 public:
  enum class Step { Edit, Replacement };

  // What a replacement puts aside: the lines, the spectrum they came from
  // and where they were read from.
  struct Lines {
    LineTable table;
    std::optional<IntegrationResult> integration;
    std::string source;
    bool fromSpectrum = false;
  };

  // The oldest steps go beyond this many.
  static constexpr size_t kDepth = 50;

  // `before` is the table as it was before the edit.
  void RecordEdit(const LineTable& before);
  // The lines as they were before a replacement; nothing when there were
  // none to bring back (the replacement still starts clean).
  void RecordReplacement(std::optional<Lines> before);

  std::optional<Step> Next() const;
  // Takes the latest step off the stack: its kind and the lines before it
  // (a replacement's integration and source are set; an edit's are not).
  // Raises Error on an empty stack.
  std::pair<Step, Lines> Pop();

  bool Unsaved() const { return revision_ != savedRevision_; }
  void MarkSaved() { savedRevision_ = revision_; }
  // No step left, and the lines count as saved.
  void Clear();

 private:
  struct Entry {
    Step step = Step::Edit;
    Lines before;
    long revision = 0;       // of the lines before the step
    long savedRevision = 0;  // the saved mark before the step
  };
  void Push(Entry entry);

  std::deque<Entry> entries_;
  long revision_ = 0;
  long savedRevision_ = 0;
  long lastRevision_ = 0;
};

}  // namespace lumora
