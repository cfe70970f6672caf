#include "faults.h"

#include <sstream>

namespace opserver {

namespace {

bool ToInt(const std::string& s, int64_t& out) {
  if (s.empty()) return false;
  size_t pos = 0;
  try {
    out = std::stoll(s, &pos, 10);
  } catch (...) {
    return false;
  }
  return pos == s.size();
}

}  // namespace

std::optional<std::string> ApplyFaultSetting(FaultRule& rule, const std::string& key, const std::string& value) {
  int64_t n = 0;
  if (key == "path") {
    rule.path = value;
    return std::nullopt;
  }
  if (key == "ignore-range") {
    rule.ignoreRange = value.empty() || value == "1" || value == "true";
    return std::nullopt;
  }
  if (!ToInt(value, n)) return "not a number: " + key + "=" + value;
  if (key == "times") rule.times = n;
  else if (key == "status") rule.status = static_cast<int>(n);
  else if (key == "close-after") rule.closeAfter = n;
  else if (key == "stall") rule.stallMs = n;
  else if (key == "stall-body") rule.stallBodyMs = n;
  else if (key == "throttle") rule.throttle = n;
  else return "unknown fault setting: " + key;
  return std::nullopt;
}

std::optional<std::string> ParseFaultRule(const std::string& text, FaultRule& rule) {
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (auto err = ApplyFaultSetting(rule, key, value)) return err;
  }
  return std::nullopt;
}

void FaultBook::Add(FaultRule rule) {
  if (rule.times == 0) return;  // a rule for no request at all
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back(std::move(rule));
  ++generation_;
}

void FaultBook::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
  ++generation_;
}

FaultRule FaultBook::Take(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (path.compare(0, it->path.size(), it->path) != 0) continue;
    FaultRule r = *it;
    if (it->times > 0 && --it->times == 0) {
      rules_.erase(it);
      ++generation_;
    }
    return r;
  }
  return FaultRule{};
}

uint64_t FaultBook::Generation() const {
  std::lock_guard<std::mutex> lock(mu_);
  return generation_;
}

std::string FaultBook::Describe() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::ostringstream out;
  for (const auto& r : rules_)
    out << "path=" << r.path << " times=" << r.times << " status=" << r.status << " close-after=" << r.closeAfter
        << " ignore-range=" << r.ignoreRange << " stall=" << r.stallMs << " stall-body=" << r.stallBodyMs
        << " throttle=" << r.throttle << "\n";
  return out.str();
}

}  // namespace opserver
