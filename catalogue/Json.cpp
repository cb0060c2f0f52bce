#include "catalogue/Json.h"

#include <strings.h>

namespace kivcat {

void WriteJson(std::ostream& out, const Json& json) {
  out << json.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

const Json* FindMember(const Json& object, const std::string& key) {
  if (!object.is_object()) return nullptr;
  for (const auto& [name, value] : object.items())
    if (strcasecmp(name.c_str(), key.c_str()) == 0) return &value;
  return nullptr;
}

}  // namespace kivcat
