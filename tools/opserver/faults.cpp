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

bool* FlagOf(FaultRule& rule, const std::string& key) {
  if (key == "ignore-range") return &rule.ignoreRange;
  if (key == "misplace-range") return &rule.misplaceRange;
  if (key == "refuse-range") return &rule.refuseRange;
  if (key == "changing-etag") return &rule.changingEtag;
  if (key == "weak-etag") return &rule.weakEtag;
  if (key == "no-last-modified") return &rule.noLastModified;
  if (key == "no-length") return &rule.noLength;
  if (key == "chunked") return &rule.chunked;
  if (key == "bad-chunk") return &rule.badChunk;
  return nullptr;
}

const std::map<std::string, BadHead>& BadHeads() {
  static const std::map<std::string, BadHead> names = {
      {"status-line", BadHead::StatusLine},         {"huge", BadHead::Huge},
      {"garbage", BadHead::Garbage},                {"no-colon", BadHead::NoColon},
      {"negative-length", BadHead::NegativeLength}, {"two-lengths", BadHead::TwoLengths}};
  return names;
}

std::string BadHeadName(BadHead h) {
  for (const auto& [name, value] : BadHeads())
    if (value == h) return name;
  return "none";
}

}  // namespace

bool FaultRule::RangesOnly() const {
  return (ignoreRange || misplaceRange || refuseRange) && status == 0 && location.empty() &&
         closeAfter < 0 && stallAfter < 0 && stallMs < 0 && stallBodyMs < 0 && throttle == 0 && !changingEtag &&
         !weakEtag && !noLastModified && !ByHand();
}

bool FaultRule::ByHand() const {
  return noLength || lengthDelta != 0 || chunked || badChunk || badHead != BadHead::None || stallAfter >= 0;
}

std::optional<std::string> ApplyFaultSetting(FaultRule& rule, const std::string& key, const std::string& value) {
  if (key == "path") {
    rule.path = value;
    return std::nullopt;
  }
  if (key == "location") {
    rule.location = value;
    return std::nullopt;
  }
  if (bool* flag = FlagOf(rule, key)) {
    if (value.empty() || value == "1" || value == "true") *flag = true;
    else if (value == "0" || value == "false") *flag = false;
    else return "not a yes or no: " + key + "=" + value;
    return std::nullopt;
  }
  if (key == "bad-head") {
    auto it = BadHeads().find(value);
    if (it == BadHeads().end()) return "unknown bad-head: " + value;
    rule.badHead = it->second;
    return std::nullopt;
  }
  int64_t n = 0;
  if (!ToInt(value, n)) return "not a number: " + key + "=" + value;
  if (key == "times") rule.times = n;
  else if (key == "status") rule.status = static_cast<int>(n);
  else if (key == "close-after") rule.closeAfter = n;
  else if (key == "stall-after") rule.stallAfter = n;
  else if (key == "stall") rule.stallMs = n;
  else if (key == "stall-body") rule.stallBodyMs = n;
  else if (key == "throttle") rule.throttle = n;
  else if (key == "length-delta") rule.lengthDelta = n;
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

FaultRule FaultBook::Take(const std::string& path, bool ranged) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (path.compare(0, it->path.size(), it->path) != 0) continue;
    if (!ranged && it->RangesOnly()) continue;
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
  for (const auto& r : rules_) {
    out << "path=" << r.path << " times=" << r.times << " status=" << r.status << " close-after=" << r.closeAfter
        << " ignore-range=" << r.ignoreRange << " stall=" << r.stallMs << " stall-body=" << r.stallBodyMs
        << " throttle=" << r.throttle;
    // The newer settings only when set, so that the common line stays short.
    if (!r.location.empty()) out << " location=" << r.location;
    if (r.stallAfter >= 0) out << " stall-after=" << r.stallAfter;
    if (r.misplaceRange) out << " misplace-range=1";
    if (r.refuseRange) out << " refuse-range=1";
    if (r.changingEtag) out << " changing-etag=1";
    if (r.weakEtag) out << " weak-etag=1";
    if (r.noLastModified) out << " no-last-modified=1";
    if (r.noLength) out << " no-length=1";
    if (r.lengthDelta != 0) out << " length-delta=" << r.lengthDelta;
    if (r.chunked) out << " chunked=1";
    if (r.badChunk) out << " bad-chunk=1";
    if (r.badHead != BadHead::None) out << " bad-head=" << BadHeadName(r.badHead);
    out << "\n";
  }
  return out.str();
}

}  // namespace opserver
