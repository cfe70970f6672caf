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

// A head that breaks the rules of HTTP in one way.
enum class BadHead {
  None,
  StatusLine,      // "HTTP/1.1 2O6 ...": a letter O for a zero
  Huge,            // more than 64 KiB of header lines
  Garbage,         // bytes that are no HTTP at all
  NoColon,         // one header line without a colon (a client may skip it)
  NegativeLength,  // a second Content-Length of -5
  TwoLengths,      // a second Content-Length that disagrees with the first
};

struct FaultRule {
  std::string path;             // applies to request paths starting with this ("" = all)
  int64_t times = -1;           // requests left that this rule applies to (-1 = no limit)
  int status = 0;               // answer with this status instead (e.g. 404, 500)
  std::string location;         // with status: a Location header (for a 3xx)
  int64_t closeAfter = -1;      // drop the connection after this many body bytes
  int64_t stallAfter = -1;      // go silent after this many body bytes until the client leaves
  int64_t stallMs = -1;         // wait before answering (0 = until the rules change)
  int64_t stallBodyMs = -1;     // send the header, then wait before the body (0 = as above)
  int64_t throttle = 0;         // bytes per second for each response (0 = unlimited)
  // Answers to range requests.
  bool ignoreRange = false;     // answer 200 with the whole body
  bool misplaceRange = false;   // a 206 whose Content-Range starts 4096 bytes past the bytes sent
  bool refuseRange = false;     // answer 416 although the range is satisfiable
  // Validators.
  bool changingEtag = false;    // each answer one of three ETags, as nodes behind one address give
  bool weakEtag = false;        // W/ before the ETag
  bool noLastModified = false;
  // The framing of the answer: such answers are written by hand, byte for
  // byte (plain HTTP only).
  bool noLength = false;        // no Content-Length: the end of the connection ends the body
  int64_t lengthDelta = 0;      // added to the Content-Length; the connection ends after the body
  bool chunked = false;         // the body in chunks of varying size, with a trailer
  bool badChunk = false;        // chunked, the first chunk claims two bytes more than it holds
  BadHead badHead = BadHead::None;

  // Only range requests are answered differently, so only they use it up.
  bool RangesOnly() const;
  // Needs an answer written by hand rather than by the HTTP library.
  bool ByHand() const;
};

// Reads "key=value" pairs (from the command line as "k=v,k=v", from the
// control address as query parameters). Returns an error text, or nullopt.
std::optional<std::string> ApplyFaultSetting(FaultRule& rule, const std::string& key, const std::string& value);
std::optional<std::string> ParseFaultRule(const std::string& text, FaultRule& rule);

class FaultBook {
 public:
  void Add(FaultRule rule);
  void Clear();
  // The first rule whose path matches (and, for a rule that only concerns
  // ranges, only when the request asks for one); counts the request against
  // its `times` and drops the rule when they are used up.
  FaultRule Take(const std::string& path, bool ranged = false);
  // Changes whenever the rules change; a stall ends when it does.
  uint64_t Generation() const;
  std::string Describe() const;

 private:
  mutable std::mutex mu_;
  std::vector<FaultRule> rules_;
  uint64_t generation_ = 0;
};

}  // namespace opserver
