// Shared fixture of the wrapper tests: a UI thread run by the test thread,
// a temporary folder (inside a simulated machine on the native build), and
// helpers to pump the UI until something happens.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "common/ui_thread.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace corvane::test {

#ifdef _WIN32
using ThunderFixtureBase = ::testing::Test;
#else
using ThunderFixtureBase = SimMachineTest;
#endif

class ThunderFixture : public ThunderFixtureBase {
 protected:
  void SetUp() override {
    ThunderFixtureBase::SetUp();
    plat::ForceDirectories(GetTempDir());
    ui_ = std::make_unique<TaskQueueUiThread>();
    SetMainUi(ui_.get());
    baseline_ = AllEngineFolders();
  }
  void TearDown() override {
    ui_->Shutdown();
    SetMainUi(nullptr);
    ThunderFixtureBase::TearDown();
  }
  // Runs UI steps until pred holds; false after timeoutMs.
  bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      ui_->WaitAndRun(10);
    }
    return true;
  }
  void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
  }
  // Engine folders made since the test began.
  int EngineFolders() const { return AllEngineFolders() - baseline_; }
  // Folders directly in the temporary folder whose names are 32 hex digits.
  static int AllEngineFolders() {
    std::vector<plat::DirEntry> entries;
    plat::ListDirectory(GetTempDir(), entries);
    int n = 0;
    for (const auto& e : entries)
      if ((e.attrs & plat::kAttrDirectory) && e.name.size() == 32 &&
          e.name.find_first_not_of("0123456789ABCDEF") == std::string::npos)
        ++n;
    return n;
  }
  std::unique_ptr<TaskQueueUiThread> ui_;
  int baseline_ = 0;
};

}  // namespace corvane::test
