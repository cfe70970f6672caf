// Reads and presses the controls of a running Corvaner.exe from the outside,
// under Wine, through the child windows that carry the controls' captions:
//   winpanel texts        the captions of the visible controls, one a line (UTF-8)
//   winpanel click TEXT   presses the visible button whose caption is TEXT
//   winpanel click-prefix TEXT   the same for a caption that starts with TEXT
//                         (a button the auto mode counts down in)
//   winpanel rect TEXT    "left top width height" of that button in the
//                         main window's client area
//   winpanel close        asks the main window to close
//   winpanel wait SECONDS TEXT...  waits until a visible control reads one
//                         of the TEXTs (TEXT* : begins with TEXT), checking
//                         every 20 ms, and prints that caption; a screen
//                         that stands for less than a second is caught
// Exit code 1 when the window or the button is not there.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t* kClass = L"TFrm_Main";
const wchar_t* kCaption = L"QuilloWin10\u5347\u7EA7\u52A9\u7406";

struct Child {
  HWND hwnd;
  std::wstring cls, text;
};

BOOL CALLBACK Collect(HWND h, LPARAM lp) {
  if (!::IsWindowVisible(h)) return TRUE;
  wchar_t cls[64] = {}, text[512] = {};
  ::GetClassNameW(h, cls, 64);
  ::GetWindowTextW(h, text, 512);
  reinterpret_cast<std::vector<Child>*>(lp)->push_back({h, cls, text});
  return TRUE;
}

void WriteUtf8(const std::wstring& w) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  s += "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

// The caption of the first visible control that reads one of the wanted
// texts; empty when none does (or the window is not there).
std::wstring Showing(const std::vector<std::wstring>& wanted) {
  HWND main = ::FindWindowW(kClass, kCaption);
  if (!main) return {};
  std::vector<Child> children;
  ::EnumChildWindows(main, Collect, reinterpret_cast<LPARAM>(&children));
  for (const auto& w : wanted) {
    const bool prefix = !w.empty() && w.back() == L'*';
    const std::wstring stem = prefix ? w.substr(0, w.size() - 1) : w;
    for (const auto& c : children)
      if (prefix ? c.text.rfind(stem, 0) == 0 : c.text == stem) return c.text;
  }
  return {};
}

int Wait(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const DWORD limit = static_cast<DWORD>(_wtof(argv[2]) * 1000);
  const std::vector<std::wstring> wanted(argv + 3, argv + argc);
  const DWORD start = ::GetTickCount();
  for (;;) {
    const std::wstring got = Showing(wanted);
    if (!got.empty()) {
      WriteUtf8(got);
      return 0;
    }
    if (::GetTickCount() - start > limit) return 1;
    ::Sleep(20);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring cmd = argv[1];
  if (cmd == L"wait") return Wait(argc, argv);
  HWND main = ::FindWindowW(kClass, kCaption);
  if (!main) return 1;
  if (cmd == L"close") {
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    return 0;
  }
  std::vector<Child> children;
  ::EnumChildWindows(main, Collect, reinterpret_cast<LPARAM>(&children));
  if (cmd == L"texts") {
    for (const auto& c : children)
      if (!c.text.empty()) WriteUtf8(c.text);
    return 0;
  }
  if ((cmd == L"click" || cmd == L"click-prefix" || cmd == L"rect") && argc >= 3) {
    const std::wstring want = argv[2];
    const bool prefix = cmd == L"click-prefix";
    for (const auto& c : children)
      if (::_wcsicmp(c.cls.c_str(), L"Button") == 0 && (prefix ? c.text.rfind(want, 0) == 0 : c.text == want)) {
        if (cmd != L"rect") {
          ::SendMessageW(c.hwnd, BM_CLICK, 0, 0);
          return 0;
        }
        RECT r{};
        ::GetWindowRect(c.hwnd, &r);
        ::MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
        WriteUtf8(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) +
                  L" " + std::to_wstring(r.bottom - r.top));
        return 0;
      }
    return 1;
  }
  return 2;
}
