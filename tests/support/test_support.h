// Shared helpers of the tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#ifndef _WIN32
#include <nlohmann/json.hpp>

#include "platform/posix/sim_machine.h"

namespace corvane::test {

// A fresh simulated machine per test: drive C: with the default profile,
// in a new folder that is removed afterwards.
class SimMachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Changes the profile; `patch` members replace the profile's top-level ones.
  void Patch(const nlohmann::json& patch);
  // Host path of a file inside the machine, for checks from outside.
  std::string Host(const std::string& winPath) const;
  // Creates a file (with its folders) on the simulated machine.
  void MakeFile(const std::string& winPath, const std::string& content = "x");
  std::string root_;
};

}  // namespace corvane::test
#endif

namespace corvane::test {
// Deterministic content that differs at every offset's neighbourhood.
std::string PatternContent(size_t size, uint32_t seed);

// A fresh empty folder for the test (a Windows path on win32, a host path on
// posix); removed by the caller or left in the temp folder.
std::string MakeTempDir(const std::string& tag);
}  // namespace corvane::test
