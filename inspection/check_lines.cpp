// The texts and verdicts of the environment check's result lines.
#include "common/errors.h"
#include "common/text.h"
#include "inspection/environment_check.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"

namespace corvane {

CheckLine ProcessorLine(const std::string& manufacturer, int32_t addrWidth, int32_t cores, int32_t mhz) {
  // The vendor test counts letter case: "intel" alone is no Intel.
  std::string vendor;
  if (Contains(manufacturer, "Intel")) vendor = "英特尔 ";
  else if (Contains(manufacturer, "AMD")) vendor = "AMD ";
  const std::string text = vendor + Format("%d位 %d核@", addrWidth, cores) +
                           FormatFixed(static_cast<double>(mhz) / 1000.0, 2, plat::DecimalSeparator()) + "GHz";
  return {text, cores >= 2};
}

CheckLine MemoryLine(int64_t memSize) {
  if (memSize >= kMinMemoryBytes) return {FormatByteSize(memSize), true};
  return {FormatByteSize(memSize) + "(至少1G)", false};
}

CheckLine DataDriveLine(const std::string& dataDrive, int64_t freeSize) {
  if (dataDrive.empty()) return {"剩余空间不足", false};
  return {dataDrive + "(剩余：" + FormatByteSize(freeSize) + ")", true};
}

CheckLine SystemDiskLine(int64_t sysDiskSize, bool bootCheckPass) {
  // An unknown size (-1) fails here too and reads 未知容量(至少20G).
  if (sysDiskSize <= kMinSystemDiskBytes) return {FormatByteSize(sysDiskSize) + "(至少20G)", false};
  if (!bootCheckPass) return {"不支持的硬盘分区格式", false};
  return {FormatByteSize(sysDiskSize), true};
}

CheckLine NetworkLine(bool netPass) { return netPass ? CheckLine{"网络正常", true} : CheckLine{"网络不通", false}; }

std::string ChooseEdition(int32_t cores, int32_t mhz, int32_t addrWidth, int64_t memSize) {
  const bool x64 = cores >= 2 && mhz > kX64AboveMhz && addrWidth >= 64 && memSize > kX64AboveMemoryBytes;
  return x64 ? "X64" : "X86";
}

std::string VerdictTitle(const std::string& edition) {
  if (edition == "X64") return "您的计算机适合安装64位Win10。";
  if (edition == "X86") return "您的计算机适合安装32位Win10。";
  return "您的计算机达不到Win10最低配置。";
}

int32_t ReadWmiInt32(const std::string& text) {
  int32_t v = 0;
  if (!TryParseInt32(text, v)) throw Exception("'" + text + "' is not a valid integer value");
  return v;
}

int64_t ReadWmiInt64(const std::string& text) {
  int64_t v = 0;
  if (!TryParseInt64(text, v)) throw Exception("'" + text + "' is not a valid integer value");
  return v;
}

}  // namespace corvane
