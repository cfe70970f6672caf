// Errors inside a stage are exceptions; every stage catches them at its outer
// level. The message is UTF-8.
#pragma once
#include <stdexcept>
#include <string>

namespace corvane {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
};

}  // namespace corvane
