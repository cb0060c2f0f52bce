#include "catalogue/Json.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "catalogue/Errors.h"

namespace kivcat {

void WriteJson(std::ostream& out, const Json& json) {
  out << json.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

namespace {

// Where the parser is, as a JSON path, from the events it reports.  The
// parser reports a value after reading it, so a value it cannot read is
// the one after the last reported in the innermost array.
class PathTracker {
 public:
  bool Event(Json::parse_event_t event, const Json& parsed) {
    using E = Json::parse_event_t;
    switch (event) {
      case E::object_start:
      case E::array_start:
        Count();
        m_frames.push_back({event == E::array_start, -1, {}});
        break;
      case E::object_end:
      case E::array_end:
        if (!m_frames.empty()) m_frames.pop_back();
        break;
      case E::key:
        if (!m_frames.empty()) m_frames.back().key = parsed.is_string() ? parsed.get<std::string>() : "";
        break;
      case E::value:
        Count();
        break;
    }
    return true;
  }
  std::string Path() const {
    std::string path = "$";
    for (size_t i = 0; i < m_frames.size(); ++i) {
      const Frame& f = m_frames[i];
      if (!f.array)
        path += "." + f.key;
      else
        path += "[" + std::to_string(i + 1 == m_frames.size() ? f.index + 1 : f.index) + "]";
    }
    return path;
  }

 private:
  struct Frame {
    bool array;
    long index;
    std::string key;
  };
  void Count() {
    if (!m_frames.empty() && m_frames.back().array) ++m_frames.back().index;
  }
  std::vector<Frame> m_frames;
};

}  // namespace

Json ParseJson(const std::string& text, const std::string& what) {
  PathTracker tracker;
  try {
    return Json::parse(
        text, [&tracker](int, Json::parse_event_t event, Json& parsed) { return tracker.Event(event, parsed); });
  } catch (const nlohmann::json::parse_error& e) {
    // e.byte counts from 1 and points just past what was read.
    const size_t end = std::min<size_t>(e.byte ? e.byte - 1 : 0, text.size());
    const size_t line = 1 + std::count(text.begin(), text.begin() + end, '\n');
    const size_t lineStart = text.rfind('\n', end ? end - 1 : 0);
    const size_t column = end - (lineStart == std::string::npos || lineStart >= end ? 0 : lineStart + 1) + 1;
    throw Invalid(what + " is not a JSON document: line " + std::to_string(line) + ", column " +
                  std::to_string(column) + " (at " + tracker.Path() + ")");
  } catch (const nlohmann::json::exception&) {
    // The only other failure of the parser: a number beyond every type's range.
    throw Invalid(what + ": the number at " + tracker.Path() + " is out of range");
  }
}

const Json* FindMember(const Json& object, const std::string& key) {
  if (!object.is_object()) return nullptr;
  for (const auto& [name, value] : object.items())
    if (strcasecmp(name.c_str(), key.c_str()) == 0) return &value;
  return nullptr;
}

}  // namespace kivcat
