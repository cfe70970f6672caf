// bcdedit.exe stand-in for the simulated machine and for runs under Wine,
// which have no boot configuration editor of their own. It keeps a boot store
// in a JSON file and answers the editor's commands with its usual English
// texts; see README.md beside this file.
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
// Console programs write in the system's ANSI code page, like the editor's
// output that the program captures.
void Print(const std::string& text) {
  const std::wstring w = Wide(text);
  const int n = ::WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string a(n, '\0');
  if (n > 0) ::WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), a.data(), n, nullptr, nullptr);
  std::fwrite(a.data(), 1, a.size(), stdout);
}
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
void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }
const char* const kNewLine = "\n";
#define CORVANE_ENV(name) EnvText(name)
#endif

void PrintLines(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + kNewLine;
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
    PrintLines({store.dump(2)});
    return 0;
  }

  const Json before = store;
  const bcdstandin::Outcome out = bcdstandin::RunCommand(store, args);
  if (out.ok && store != before && !Save(storeFile, store.dump(2))) return CannotOpenStore();
  PrintLines(out.lines);
  return out.ok ? 0 : 1;
}
