#include "catalogue/Values.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "catalogue/Errors.h"

namespace kivcat {

namespace {

constexpr const char* kBoxes[] = {"BOX_RIGHT",  "BOX_LEFT",      "BOX_TOP",
                                  "BOX_BOTTOM", "BOX_SPLIT_TOP", "BOX_SPLIT_BOTTOM"};
constexpr const char* kMetric = "METRIC_";
constexpr double kMillimetresPerInch = 25.4;

bool IsBox(const std::string& column) {
  const std::string inch = column.rfind(kMetric, 0) == 0 ? column.substr(std::strlen(kMetric)) : column;
  for (const char* box : kBoxes)
    if (inch == box) return true;
  return false;
}

// Digits with an optional sign and, when `decimal`, one '.' between or
// before digits.
bool IsNumber(const std::string& text, bool decimal) {
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9')
      digits = true;
    else if (text[i] == '.' && decimal && !point)
      point = true;
    else
      return false;
  }
  return digits;
}

}  // namespace

bool HoldsNumber(const std::string& column) { return column == "POINTS" || IsBox(column); }

const char* NumberKind(const std::string& column) {
  if (!HoldsNumber(column)) return "";
  return column == "POINTS" ? "whole" : "decimal";
}

std::string NumberProblem(const std::string& column, const std::string& value) {
  if (value.empty() || !HoldsNumber(column)) return "";
  const bool decimal = std::strcmp(NumberKind(column), "decimal") == 0;
  if (IsNumber(value, decimal)) return "";
  return "\"" + value + "\" is not a " + (decimal ? "number with a decimal point" : "whole number");
}

std::vector<std::string> NonNumbers(const Assignments& values) {
  std::vector<std::string> problems;
  for (const auto& [column, value] : values)
    if (std::string problem = NumberProblem(column, value); !problem.empty())
      problems.push_back(column + ": " + problem);
  return problems;
}

void RefuseNonNumbers(const Assignments& values) {
  if (auto problems = NonNumbers(values); !problems.empty())
    throw Invalid(problems.front() + "; --force keeps it as text");
}

long ParseSequence(const std::string& text, const std::string& what) {
  long number = 0;
  const char* end = text.data() + text.size();
  const char* start = text.data() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
  auto [at, error] = std::from_chars(start, end, number);
  if (text.empty() || error != std::errc() || at != end || number < kFirstSequence || number > kLastSequence)
    throw Invalid(what + ": \"" + text + "\" is not a whole number from " + std::to_string(kFirstSequence) + " to " +
                  std::to_string(kLastSequence));
  return number;
}

Assignments MetricFromInch(const Assignments& values) {
  Assignments metric;
  for (const char* box : kBoxes) {
    auto inch = values.find(box);
    if (inch == values.end() || inch->second.empty() || !IsNumber(inch->second, true)) continue;
    double value = 0;
    const std::string& given = inch->second;
    std::from_chars(given.data() + (given[0] == '+' ? 1 : 0), given.data() + given.size(), value);
    const double millimetres = std::round(value * kMillimetresPerInch * 1e6) / 1e6;
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, millimetres);
    if (error == std::errc()) metric[std::string(kMetric) + box] = std::string(text, end);
  }
  return metric;
}

}  // namespace kivcat
