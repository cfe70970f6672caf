// The script of the fake engine library used by the wrapper's tests: the
// test reaches it through FakeXl_Control() of the very library the wrapper
// loaded. Behaviour needed before the wrapper gets hold of the library
// (XL_Init's and XL_CreateTask's results) comes from the environment:
// FAKE_XL_INIT=0, FAKE_XL_CREATE=0.
#pragma once
#include <atomic>
#include <cstdint>

#include "download/engine/xldl_records.h"

struct FakeXlControl {
  std::atomic<int> startResult{1};
  std::atomic<int> stopResult{1};
  std::atomic<int> queryResult{1};
  // the status the next queries report
  std::atomic<uint8_t> stat{NOITEM};
  std::atomic<uint8_t> failCode{0};
  std::atomic<int64_t> total{0}, down{0};
  std::atomic<float> percent{0};
  std::atomic<int32_t> srcTotal{0}, srcUsing{0}, speed{0}, speedP2S{0}, speedP2P{0};
  // calls seen
  std::atomic<int> inits{0}, uninits{0}, creates{0}, starts{0}, stops{0}, delTemps{0}, queries{0}, limits{0};
  std::atomic<int32_t> lastLimit{0};
  std::atomic<XL_HANDLE> lastStarted{0}, lastStopped{0};
  std::atomic<const TDownTaskParam*> createdWith{nullptr}, deletedWith{nullptr};
  TDownTaskParam param{};  // a copy of what XL_CreateTask received
};

using FakeXl_Control_t = FakeXlControl*(XLDL_CALL*)();
