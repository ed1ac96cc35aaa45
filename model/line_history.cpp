#include "model/line_history.h"

#include "base/errors.h"

namespace lumora {

void LineHistory::Push(Entry entry) {
  entries_.push_back(std::move(entry));
  if (entries_.size() > kDepth) entries_.pop_front();
}

void LineHistory::RecordEdit(const LineTable& before) {
  Push({Step::Edit, {before, std::nullopt, {}, false}, revision_, savedRevision_});
  revision_ = ++lastRevision_;
}

void LineHistory::RecordReplacement(std::optional<Lines> before) {
  if (before) Push({Step::Replacement, std::move(*before), revision_, savedRevision_});
  revision_ = ++lastRevision_;
  savedRevision_ = revision_;
}

std::optional<LineHistory::Step> LineHistory::Next() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.back().step;
}

std::pair<LineHistory::Step, LineHistory::Lines> LineHistory::Pop() {
  if (entries_.empty()) throw Error("There is nothing to undo.");
  Entry entry = std::move(entries_.back());
  entries_.pop_back();
  revision_ = entry.revision;
  // Saving after an edit saved the edited lines: undoing the edit makes
  // them differ from the file again. A replacement brings back the lines
  // with the mark they had.
  if (entry.step == Step::Replacement) savedRevision_ = entry.savedRevision;
  return {entry.step, std::move(entry.before)};
}

void LineHistory::Clear() {
  entries_.clear();
  revision_ = ++lastRevision_;
  savedRevision_ = revision_;
}

}  // namespace lumora
