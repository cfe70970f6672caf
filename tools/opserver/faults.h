// Faults the operator server can be told to show, so that clients can be
// tested against a server that misbehaves. Rules are set at start-up from the
// command line and changed at run time through the control address.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace opserver {

struct FaultRule {
  std::string path;             // applies to request paths starting with this ("" = all)
  int64_t times = -1;           // requests left that this rule applies to (-1 = no limit)
  int status = 0;               // answer with this status instead (e.g. 404, 500)
  int64_t closeAfter = -1;      // drop the connection after this many body bytes
  bool ignoreRange = false;     // answer 200 with the whole body even when asked for a range
  int64_t stallMs = -1;         // wait before answering (0 = until the rules change)
  int64_t stallBodyMs = -1;     // send the header, then wait before the body (0 = as above)
  int64_t throttle = 0;         // bytes per second for each response (0 = unlimited)
};

// Reads "key=value" pairs (from the command line as "k=v,k=v", from the
// control address as query parameters). Returns an error text, or nullopt.
std::optional<std::string> ApplyFaultSetting(FaultRule& rule, const std::string& key, const std::string& value);
std::optional<std::string> ParseFaultRule(const std::string& text, FaultRule& rule);

class FaultBook {
 public:
  void Add(FaultRule rule);
  void Clear();
  // The first rule whose path matches; counts the request against its
  // `times` and drops the rule when they are used up.
  FaultRule Take(const std::string& path);
  // Changes whenever the rules change; a stall ends when it does.
  uint64_t Generation() const;
  std::string Describe() const;

 private:
  mutable std::mutex mu_;
  std::vector<FaultRule> rules_;
  uint64_t generation_ = 0;
};

}  // namespace opserver
