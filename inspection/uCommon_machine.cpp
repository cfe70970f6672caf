// Machine queries and system actions of uCommon. Every function ends its own
// errors with its fixed sentinel, except GetWmiValue, which lets them pass.
#include <algorithm>
#include <atomic>
#include <exception>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/text.h"
#include "console/uDosCommand.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/exclusive_file.h"
#include "platform/handoff.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/system_actions.h"
#include "platform/wmi.h"

namespace corvane {
namespace {

int64_t DriveSize(const std::string& drive, const char* prop) {
  try {
    int64_t v = -1;
    const std::string text = GetWmiValue("LogicalDisk Where Caption='" + drive.substr(0, 2) + "'", prop);
    // A byte count is never negative; -1 is the one "unknown".
    if (TryParseInt64(text, v) && v >= 0) return v;
  } catch (...) {
  }
  return -1;
}

std::string Md5Hex(const std::string& bytes) {
  const auto d = plat::Md5(bytes);
  return HexUpper(d.data(), d.size());
}

// One code point after another; each outside 7-bit ASCII becomes "?".
std::string ToAscii(const std::string& utf8) {
  std::string out;
  for (const char16_t u : Utf8ToUtf16(utf8)) {
    if (u >= 0xDC00 && u <= 0xDFFF) continue;  // the second half of a pair
    out += u < 0x80 ? static_cast<char>(u) : '?';
  }
  return out;
}

bool IsFirewallProgram(const std::string& imagePath) {
  const std::string ext = LowerAscii(ExtractFileExt(imagePath));
  return ext == ".exe" || ext == ".com" || ext == ".icd";
}

// The file's blocks travel from a reading thread to the hashing caller, so
// that loading the next blocks overlaps hashing this one. The hashing thread
// does nothing but hash: a block it is done with goes back to the reading
// thread, which releases it (natively an unmapping, which costs about a
// tenth of the hashing) before loading the next one into it. The hand-off
// waits on the system's own primitives (plat::HandOff): with the C++
// library's of the Windows toolchain every wake-up was a kernel call, which
// under Wine cost the hashing thread an eighth of its time.
class BlockPipeline {
 public:
  explicit BlockPipeline(plat::ExclusiveFile& file)
      : file_(file), blocks_(std::max<size_t>(plat::ExclusiveFile::BlocksAhead(), 2)) {
    for (size_t i = 0; i < blocks_.size(); ++i) free_.push_back(i);
  }

  // Hashes the whole file; false on a read error.
  bool HashInto(plat::Sha1& sha, const HashProgress& onProgress) {
    int64_t hashed = 0;
    std::thread reader([this] { ReadAll(); });
    bool ok = true;
    std::exception_ptr error;
    for (;;) {
      Filled f;
      {
        std::unique_lock<plat::HandOff> g(handOff_);
        handOff_.Wait(g, [this] { return !filled_.empty(); });
        f = filled_.front();
        filled_.pop_front();
      }
      if (f.end) {
        if (f.failed) ok = false;
        break;
      }
      hashed += static_cast<int64_t>(blocks_[f.index].size);
      // A failing digest or read stops the reader; a digest's error passes
      // on once it has ended.
      if (!error && ok) {
        try {
          if (!plat::ExclusiveFile::UseBlock(blocks_[f.index], HashBytes, &sha)) {
            ok = false;
            stop_ = true;
          }
        } catch (...) {
          error = std::current_exception();
          stop_ = true;
        }
      }
      {
        std::lock_guard<plat::HandOff> g(handOff_);
        free_.push_back(f.index);
      }
      handOff_.NotifyAll();
      if (ok && !error) Report(onProgress, hashed);
    }
    reader.join();
    for (auto& b : blocks_) file_.ReleaseBlock(b);
    if (error) std::rethrow_exception(error);
    return ok;
  }

 private:
  // A listener that fails hears no more; the hashing goes on.
  void Report(const HashProgress& onProgress, int64_t hashed) {
    if (!onProgress || deaf_) return;
    try {
      onProgress(hashed);
    } catch (...) {
      deaf_ = true;
    }
  }

  static void HashBytes(void* sha, const char* data, size_t size) { static_cast<plat::Sha1*>(sha)->Update(data, size); }

  struct Filled {
    size_t index = 0;
    bool end = false;
    bool failed = false;
  };

  void ReadAll() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<plat::HandOff> g(handOff_);
        handOff_.Wait(g, [this] { return !free_.empty(); });
        index = free_.front();
        free_.pop_front();
      }
      const bool ok = !stop_.load() && file_.NextBlock(blocks_[index]);
      const bool end = !ok || blocks_[index].size == 0;
      {
        std::lock_guard<plat::HandOff> g(handOff_);
        filled_.push_back({index, end, !ok});
      }
      handOff_.NotifyAll();
      if (end) return;
    }
  }

  plat::ExclusiveFile& file_;
  std::vector<plat::FileBlock> blocks_;
  plat::HandOff handOff_;
  std::deque<size_t> free_;
  std::deque<Filled> filled_;
  bool deaf_ = false;
  std::atomic<bool> stop_{false};
};

}  // namespace

std::string GetWmiValue(const std::string& classPart, const std::string& propName) {
  return Trim(plat::WmiFirstValue(classPart, propName));
}

int64_t GetDriveTotalSize(const std::string& drive) { return DriveSize(drive, "Size"); }
int64_t GetDriveFreeSize(const std::string& drive) { return DriveSize(drive, "FreeSpace"); }

std::string FormatByteSize(int64_t size) {
  const double v = static_cast<double>(size);
  if (size > 1073741824) return FormatFixed(v / 1073741824.0, 2, plat::DecimalSeparator()) + "GB";
  if (size > 1048576) return FormatFixed(v / 1048576.0, 2, plat::DecimalSeparator()) + "MB";
  if (size > 1024) return FormatFixed(v / 1024.0, 2, plat::DecimalSeparator()) + "KB";
  if (size == -1) return "未知容量";
  return FormatFixed(v, 2, plat::DecimalSeparator()) + "B";
}

std::string RunAndCapture(const std::string& commandLine, const std::string& currentDir) {
  try {
    TDosCommand cmd;
    cmd.SetCommandLine(commandLine);
    cmd.SetCurrentDirectory(currentDir);
    cmd.SetCodePage(TCodePage::cpConsole);
    cmd.Execute();
    while (cmd.IsRunning()) SystemClock().SleepMs(1);
    // A command that could not be started is a failure, not empty output.
    if (!cmd.LastError().empty()) return "#";
    std::string out;
    for (const auto& line : cmd.Lines()) out += line + "\r\n";
    return out;
  } catch (...) {
    return "#";
  }
}

bool DownloadToFile(const std::string& url, const std::string& fileName) {
  try {
    // Deleted first, so that a failed download leaves no file behind.
    if (plat::FileExists(fileName)) plat::RemoveFile(fileName);
    plat::HttpReply reply;
    if (!plat::HttpGet(url, reply) || reply.status < 200 || reply.status > 299) return false;
    if (!plat::WriteWholeFile(fileName, reply.body)) {
      plat::RemoveFile(fileName);
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

std::string GetFileSHA1(const std::string& fileName) { return GetFileSHA1(fileName, nullptr); }

std::string GetFileSHA1(const std::string& fileName, const HashProgress& onProgress) {
  try {
    plat::ExclusiveFile file;
    if (!file.Open(fileName)) return "";
    plat::Sha1 sha;
    BlockPipeline pipeline(file);
    if (!pipeline.HashInto(sha, onProgress)) return "";
    const auto d = sha.Final();
    return HexUpper(d.data(), d.size());
  } catch (...) {
    return "";
  }
}

std::string GetMachineId() {
  try {
    const std::string joined = GetWmiValue("Processor", "ProcessorId") + GetWmiValue("DiskDrive", "SerialNumber");
    return Md5Hex(ToAscii(joined));
  } catch (...) {
    // Without a working digest there is no identity to give at all.
    try {
      return Md5Hex("UNKNOWN");
    } catch (...) {
      return "";
    }
  }
}

void AddFirewallApp(const std::string& appName, const std::string& imagePath) {
  if (!IsFirewallProgram(imagePath)) return;
  try {
    plat::FirewallAuthorizeApp(appName, imagePath);
  } catch (...) {
  }
}

void RemoveFirewallApp(const std::string& /*appName: not used*/, const std::string& imagePath) {
  if (!IsFirewallProgram(imagePath)) return;
  try {
    plat::FirewallRemoveApp(imagePath);
  } catch (...) {
  }
}

void RestartComputer() {
  try {
    plat::RestartWindows();
  } catch (...) {
  }
}

}  // namespace corvane
