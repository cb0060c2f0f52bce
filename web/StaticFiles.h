// The page's files, compiled in: "/index.html" -> its bytes.
#ifndef KIV_WEB_STATICFILES_H_
#define KIV_WEB_STATICFILES_H_

#include <map>
#include <string>
#include <string_view>

namespace kivplc::web {

const std::map<std::string, std::string_view>& StaticFiles();

}  // namespace kivplc::web

#endif  // KIV_WEB_STATICFILES_H_
