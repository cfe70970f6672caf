// bcdedit.exe stand-in for the simulated machine and for runs under Wine,
// which have no boot configuration editor of their own. It keeps a boot store
// in a JSON file and answers the editor's commands with its usual texts, in
// English or, on a Chinese system, in Chinese; see README.md beside this file.
//
// Store file: "/store <file>" if given, else the environment variable
// CORVANE_BCD_STORE, else "bcdstore.json" beside this program. A missing
// file is created as a fresh store (BIOS, or UEFI when CORVANE_BCD_FIRMWARE
// is "uefi"); an empty or unreadable file is a machine without boot
// configuration data.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bcdedit-standin/boot_store.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace fs = std::filesystem;
using bcdstandin::Json;

namespace {

#ifdef _WIN32
std::string Utf8(const wchar_t* w) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}
std::wstring Wide(const std::string& s) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}
fs::path PathOf(const std::string& s) { return fs::path(Wide(s)); }
std::string EnvText(const wchar_t* name) {
  const wchar_t* v = ::_wgetenv(name);
  return v ? Utf8(v) : std::string();
}
fs::path ProgramFolder() {
  wchar_t buf[MAX_PATH * 2] = {};
  ::GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  return fs::path(buf).parent_path();
}
// Into a pipe the editor writes in its console's output code page (a new
// console starts with the OEM code page).
void Print(const std::string& text) {
  UINT cp = ::GetConsoleOutputCP();
  if (cp == 0) cp = CP_OEMCP;
  const std::wstring w = Wide(text);
  const int n = ::WideCharToMultiByte(cp, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string a(n, '\0');
  if (n > 0) ::WideCharToMultiByte(cp, 0, w.c_str(), static_cast<int>(w.size()), a.data(), n, nullptr, nullptr);
  std::fwrite(a.data(), 1, a.size(), stdout);
}
// The editor speaks the user's display language.
bool ChineseSystem() { return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_CHINESE; }
const char* const kNewLine = "\r\n";
#define CORVANE_ENV(name) EnvText(L##name)
#else
fs::path PathOf(const std::string& s) { return fs::path(s); }
std::string EnvText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : std::string();
}
fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}
// The simulated machine tells its programs the code page of their console
// and the display language (platform/process.h).
void Print(const std::string& text) {
  const std::string cp = EnvText("CORVANE_SIM_CONSOLE_CP");
  std::string out = text;
  if (!cp.empty() && cp != "UTF-8" && cp != "utf-8") {
    if (iconv_t cd = ::iconv_open(cp.c_str(), "UTF-8"); cd != reinterpret_cast<iconv_t>(-1)) {
      out.assign(text.size() * 2 + 8, '\0');
      char* src = const_cast<char*>(text.data());
      size_t srcLeft = text.size();
      char* dst = out.data();
      size_t dstLeft = out.size();
      ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
      out.resize(out.size() - dstLeft);
      ::iconv_close(cd);
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}
bool ChineseSystem() {
  const std::string lang = EnvText("CORVANE_SIM_UILANG");
  return lang.size() >= 2 && std::tolower(static_cast<unsigned char>(lang[0])) == 'z' &&
         std::tolower(static_cast<unsigned char>(lang[1])) == 'h';
}
const char* const kNewLine = "\n";
#define CORVANE_ENV(name) EnvText(name)
#endif

void PrintLines(const std::vector<std::string>& lines) {
  const bool chinese = ChineseSystem();
  std::string all;
  for (const auto& l : lines) all += (chinese ? bcdstandin::ChineseText(l) : l) + kNewLine;
  Print(all);
  std::fflush(stdout);
}

int CannotOpenStore() {
  PrintLines({"The boot configuration data store could not be opened.",
              "The system cannot find the file specified."});
  return 1;
}

std::string SystemDrive() {
  const std::string d = CORVANE_ENV("SystemDrive");
  return d.size() == 2 && d[1] == ':' ? d : std::string("C:");
}

Json FreshStore(const std::string& firmware) { return bcdstandin::MakeDefaultStore(firmware, SystemDrive()); }

bool Save(const fs::path& file, const std::string& text) {
  std::error_code ec;
  if (!file.parent_path().empty()) fs::create_directories(file.parent_path(), ec);
  fs::path tmp = file;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) return false;
  }
  fs::rename(tmp, file, ec);  // whole store or nothing
  return !ec;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> all;
  for (int i = 1; i < argc; ++i) all.push_back(Utf8(argv[i]));
#else
int main(int argc, char** argv) {
  std::vector<std::string> all(argv + 1, argv + argc);
#endif
  fs::path storeFile;
  std::vector<std::string> args;
  for (size_t i = 0; i < all.size(); ++i) {
    std::string lower = all[i];
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "/store" && i + 1 < all.size()) {
      storeFile = PathOf(all[++i]);
    } else {
      args.push_back(all[i]);
    }
  }
  if (storeFile.empty()) {
    const std::string env = CORVANE_ENV("CORVANE_BCD_STORE");
    storeFile = env.empty() ? ProgramFolder() / "bcdstore.json" : PathOf(env);
  }

  // Test helpers, not commands of the real editor.
  if (!args.empty() && args[0] == "/standin-init") {
    const std::string kind = args.size() > 1 ? args[1] : "bios";
    if (kind != "bios" && kind != "uefi" && kind != "none") return CannotOpenStore();
    if (!Save(storeFile, kind == "none" ? std::string() : FreshStore(kind).dump(2))) return CannotOpenStore();
    PrintLines({"The operation completed successfully."});
    return 0;
  }

  Json store;
  std::error_code ec;
  if (!fs::exists(storeFile, ec)) {
    store = FreshStore(CORVANE_ENV("CORVANE_BCD_FIRMWARE"));
    if (!Save(storeFile, store.dump(2))) return CannotOpenStore();
  } else {
    std::ifstream in(storeFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    try {
      store = Json::parse(text.str());
    } catch (...) {
      return CannotOpenStore();
    }
    if (!store.is_object()) return CannotOpenStore();
  }

  if (!args.empty() && args[0] == "/standin-dump") {
    Print(store.dump(2) + kNewLine);
    return 0;
  }

  const Json before = store;
  const bcdstandin::Outcome out = bcdstandin::RunCommand(store, args);
  if (out.ok && store != before && !Save(storeFile, store.dump(2))) return CannotOpenStore();
  PrintLines(out.lines);
  return out.ok ? 0 : 1;
}
