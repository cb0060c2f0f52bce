// The prompt texts (PLC_MSG): each row pairs a prompt (FIND) with its text
// (WD_MSG_CODE).  The library only looks prompts up, so these read and
// write the table through the access component.  A prompt may have several
// rows and either value may be NULL, which is kept apart from "".
// Prompts compare as the engine compares them: without regard to case.
#ifndef KIV_CATALOGUE_PROMPTS_H_
#define KIV_CATALOGUE_PROMPTS_H_

#include <optional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace kivcat {

struct PromptRow {
  std::optional<std::string> prompt;  // UTF-8; nullopt for NULL
  std::optional<std::string> text;
  bool operator==(const PromptRow&) const = default;
};

// Every row, in the table's order.
std::vector<PromptRow> ReadPrompts(Catalogue& db);
// Adds the rows in one batch, in their order.  A text holding a NUL
// character is Invalid (a catalogue text cannot hold one).
void AddPrompts(Catalogue& db, const std::vector<PromptRow>& rows);
// Gives every row of `prompt` the text `text`; returns how many rows.
long SetPrompt(Catalogue& db, const std::optional<std::string>& prompt, const std::optional<std::string>& text);
// Removes every row of `prompt`; returns how many rows.
long RemovePrompt(Catalogue& db, const std::optional<std::string>& prompt);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_PROMPTS_H_
