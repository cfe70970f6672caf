// WMI and the system actions of the simulated machine.
#include <atomic>

#include "common/errors.h"
#include "common/text.h"
#include "platform/posix/sim_machine.h"
#include "platform/system_actions.h"
#include "platform/wmi.h"

namespace plat {
namespace {

const nlohmann::json* FindNoCase(const nlohmann::json& obj, const std::string& key) {
  for (auto it = obj.begin(); it != obj.end(); ++it)
    if (corvane::EqualsNoCase(it.key(), key)) return &it.value();
  return nullptr;
}

std::string ValueText(const nlohmann::json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  return v.dump();  // integers in decimal
}

struct Query {
  std::string className;
  std::string whereProp;  // empty: every instance
  std::string whereValue;
};

// "LogicalDisk Where Caption='C:'" -> LogicalDisk, Caption, C:
Query ParseClassPart(const std::string& classPart) {
  Query q;
  const std::string s = corvane::Trim(classPart);
  const size_t sp = s.find(' ');
  q.className = s.substr(0, sp);
  if (sp == std::string::npos) return q;
  const std::string cond = corvane::Trim(s.substr(sp));
  const size_t eq = cond.find('=');
  if (!corvane::StartsWith(corvane::UpperAscii(cond), "WHERE ") || eq == std::string::npos)
    throw corvane::Exception("Invalid query: Select * from Win32_" + classPart);
  q.whereProp = corvane::Trim(cond.substr(6, eq - 6));
  std::string value = corvane::Trim(cond.substr(eq + 1));
  if (value.size() < 2 || value.front() != '\'' || value.back() != '\'')
    throw corvane::Exception("Invalid query: Select * from Win32_" + classPart);
  q.whereValue = value.substr(1, value.size() - 2);
  return q;
}

std::atomic<int> firewallCalls{0};

}  // namespace

std::string WmiFirstValue(const std::string& classPart, const std::string& propName) {
  const nlohmann::json profile = sim::Profile();
  if (!profile.contains("wmi") || !profile["wmi"].is_object()) throw corvane::Exception("WMI is not available");
  const Query q = ParseClassPart(classPart);
  const nlohmann::json* instances = FindNoCase(profile["wmi"], q.className);
  if (!instances || !instances->is_array()) return "";
  for (const auto& inst : *instances) {
    if (!inst.is_object()) continue;
    if (!q.whereProp.empty()) {
      const nlohmann::json* v = FindNoCase(inst, q.whereProp);
      if (!v || v->is_null() || !corvane::EqualsNoCase(ValueText(*v), q.whereValue)) continue;
    }
    const nlohmann::json* v = FindNoCase(inst, propName);
    if (!v) throw corvane::Exception("Not found: Win32_" + q.className + "." + propName);
    if (v->is_null()) continue;
    return ValueText(*v);
  }
  return "";
}

void FirewallAuthorizeApp(const std::string& name, const std::string& imagePath) {
  ++firewallCalls;
  sim::RecordEvent("firewall add " + name + "|" + imagePath);
}

void FirewallRemoveApp(const std::string& imagePath) {
  ++firewallCalls;
  sim::RecordEvent("firewall remove " + imagePath);
}

int FirewallCallCount() { return firewallCalls.load(); }

void RestartWindows() { sim::RecordEvent("restart"); }

}  // namespace plat
