// The environment check's rules and probes, apart from the window: which
// drive takes the data, whether the boot arrangement and the network do, the
// text and verdict of each result line, and which edition fits the machine.
// TFrm_Main::Thrd_CheckHardware (Thrd_CheckHardware.cpp) strings them
// together with its screen steps.
#pragma once
#include <cstdint>
#include <string>

namespace corvane {

// Memory of at least 1 GiB passes.
inline constexpr int64_t kMinMemoryBytes = 1'073'741'824;
// The system drive must be larger than 20 GiB.
inline constexpr int64_t kMinSystemDiskBytes = 20 * kMinMemoryBytes;
// A data drive needs 2^32 + 10^9 bytes free (hex 13B9ACA00).
inline constexpr int64_t kMinDataDriveFreeBytes = 0x13B9ACA00;
// 64-bit edition: more than 2046 MHz and more than 3,000,000,000 bytes.
inline constexpr int32_t kX64AboveMhz = 2046;
inline constexpr int64_t kX64AboveMemoryBytes = 3'000'000'000;

// The fixed disk other than sysDrive that holds the hand-off file of an
// earlier run, else the one with the most free space of at least
// kMinDataDriveFreeBytes (the earlier letter of equals); empty when none
// qualifies or the scan fails.
std::string ChooseDataDrive(const std::string& sysDrive);

// Whether the current boot entry, as the work folder's bcdedit.exe lists it,
// starts Windows through winload.exe (the BIOS path).
bool CheckBootEntry();

// Whether one GET of the reachability probe page gets a success reply.
bool CheckNetwork();

// The reachability probe page: the build-time setting CORVANE_PROBE_URL
// until a test points it at its own server (before any check runs).
std::string ProbeUrl();
void SetProbeUrl(const std::string& url);

// One line of the result panel: its value text and whether the item passed.
struct CheckLine {
  std::string text;
  bool pass = false;
};

CheckLine ProcessorLine(const std::string& manufacturer, int32_t addrWidth, int32_t cores, int32_t mhz);
CheckLine MemoryLine(int64_t memSize);
// freeSize is read only when dataDrive is not empty.
CheckLine DataDriveLine(const std::string& dataDrive, int64_t freeSize);
CheckLine SystemDiskLine(int64_t sysDiskSize, bool bootCheckPass);
CheckLine NetworkLine(bool netPass);

// "X64" or "X86", for a machine that passed every item.
std::string ChooseEdition(int32_t cores, int32_t mhz, int32_t addrWidth, int64_t memSize);
// The verdict title for an edition, or for a failed check (empty edition).
std::string VerdictTitle(const std::string& edition);

// Reads a decimal WMI value; raises Exception with the conversion's message
// when the text is empty or not a number.
int32_t ReadWmiInt32(const std::string& text);
int64_t ReadWmiInt64(const std::string& text);

}  // namespace corvane
