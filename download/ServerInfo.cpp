#include "download/ServerInfo.h"

#include <nlohmann/json.hpp>

#include "common/text.h"

namespace corvane {

namespace {

// A member read as text: strings as they are, other plain values as their
// JSON text; missing members, null, objects and arrays give nothing.
std::optional<std::string> MemberText(const nlohmann::json& obj, const char* name) {
  auto it = obj.find(name);
  if (it == obj.end() || it->is_null() || it->is_object() || it->is_array()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  return it->dump();
}

}  // namespace

std::string ExtractDirectoryText(const std::string& page) {
  static const std::string open = "[QX]", close = "[/QX]";
  size_t a = page.find(open), b = page.find(close);
  if (a == std::string::npos || b == std::string::npos || a >= b) return "";
  // Overlapping markers cannot happen ("[QX]" is not inside "[/QX]"), so the
  // start lies at or before the end.
  return page.substr(a + open.size(), b - a - open.size());
}

DirectoryReading ReadServerDirectory(const std::string& page) {
  DirectoryReading out;
  nlohmann::json doc = nlohmann::json::parse(ExtractDirectoryText(page), nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return out;
  auto server = MemberText(doc, "server");
  if (!server) return out;
  if (!server->empty()) out.server = *server;
  auto status = MemberText(doc, "status");
  if (!status || *status == "ok") return out;
  out.notice = MemberText(doc, "msg");
  return out;
}

std::string StatisticsQuery(int type, const std::string& machineId, const std::string& clientVersion) {
  return Format("stat.php?type=%d&mid=%s&cliver=%s", type, machineId.c_str(), clientVersion.c_str());
}

}  // namespace corvane
