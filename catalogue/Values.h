// The meaning of values that the catalogue stores as text: a module's
// POINTS and box values and a style's box values are numbers, a terminal
// row's SEQUENCE a whole number the engine keeps in 16 bits.  Everything
// that takes such a value from a person (the tool's --set, the editor's
// saves, spreadsheets) asks here, so that the rule has one home.
#ifndef KIV_CATALOGUE_VALUES_H_
#define KIV_CATALOGUE_VALUES_H_

#include <string>
#include <vector>

#include "catalogue/Fields.h"

namespace kivcat {

inline constexpr long kFirstSequence = -32768;
inline constexpr long kLastSequence = 32767;

// Whether the column (upper case) holds a number although stored as text.
bool HoldsNumber(const std::string& column);
// "whole" (POINTS), "decimal" (the box values) or "" for a column that
// holds no number: the kind the editor's page is served with each column.
const char* NumberKind(const std::string& column);

// Why `value` cannot stand in `column`, as "\"acht\" is not a whole
// number" (POINTS) or "\"1,5\" is not a number with a decimal point"
// (the box values), or "" when it can: an empty value, a column that
// holds no number, or a number as written with digits, an optional sign
// and, for the box values, one '.'.
std::string NumberProblem(const std::string& column, const std::string& value);

// Invalid naming the first assignment whose value NumberProblem refuses
// ("POINTS: \"acht\" is not a whole number; --force keeps it as text").
void RefuseNonNumbers(const Assignments& values);

// Every value of `values` that NumberProblem refuses, as "COLUMN: problem".
std::vector<std::string> NonNumbers(const Assignments& values);

// A terminal row's SEQUENCE from its text, or Invalid naming `what`
// ("SEQUENCE: \"8.5\" is not a whole number from -32768 to 32767").
long ParseSequence(const std::string& text, const std::string& what);

// The metric box values (METRIC_BOX_RIGHT, ...) of the inch values among
// `values` (BOX_RIGHT, ...), each × 25.4, for those that are numbers.
// Shortest decimal form to a millionth: "1.5" gives "38.1".
Assignments MetricFromInch(const Assignments& values);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_VALUES_H_
