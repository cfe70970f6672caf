#include "shell/win32/taskbar_button.h"

namespace corvane::view {

namespace {

// The shell's message reaches an elevated program only when the window
// lets it through the integrity filter. ChangeWindowMessageFilterEx is
// looked up, not imported.
void AllowShellMessage(HWND hwnd, UINT msg) {
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  auto filter = user32 ? reinterpret_cast<FilterEx>(
                             reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                       : nullptr;
  if (filter) filter(hwnd, msg, 1 /* MSGFLT_ALLOW */, nullptr);
}

}  // namespace

TBPFLAG TaskbarFlag(FormHost::TaskbarState state) {
  switch (state) {
    case FormHost::TaskbarState::Indeterminate: return TBPF_INDETERMINATE;
    case FormHost::TaskbarState::Normal: return TBPF_NORMAL;
    case FormHost::TaskbarState::Paused: return TBPF_PAUSED;
    case FormHost::TaskbarState::Error: return TBPF_ERROR;
    case FormHost::TaskbarState::None: break;
  }
  return TBPF_NOPROGRESS;
}

TaskbarButton::TaskbarButton(HWND hwnd) : hwnd_(hwnd) {
  createdMsg_ = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
  if (createdMsg_ != 0) AllowShellMessage(hwnd_, createdMsg_);
}

TaskbarButton::~TaskbarButton() {
  if (list_) list_->Release();
}

void TaskbarButton::UseList(ITaskbarList3* list) {
  if (list) list->AddRef();
  if (list_) list_->Release();
  list_ = list;
  triedShell_ = true;
}

ITaskbarList3* TaskbarButton::List() {
  if (list_ || triedShell_) return list_;
  triedShell_ = true;
  // The UI thread's apartment; a thread already in another one keeps it.
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return nullptr;
  ITaskbarList3* list = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list))) ||
      !list)
    return nullptr;
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  list_ = list;
  return list_;
}

void TaskbarButton::Show(FormHost::TaskbarState state, uint64_t done, uint64_t total) {
  state_ = state;
  done_ = done;
  total_ = total;
  Apply();
}

void TaskbarButton::ButtonCreated() { Apply(); }

// A call before the shell has made the button fails harmlessly; the button's
// creation brings the last state again.
void TaskbarButton::Apply() {
  ITaskbarList3* list = List();
  if (!list) return;
  list->SetProgressState(hwnd_, TaskbarFlag(state_));
  const bool hasValue = state_ == FormHost::TaskbarState::Normal || state_ == FormHost::TaskbarState::Paused ||
                        state_ == FormHost::TaskbarState::Error;
  if (hasValue && total_ > 0) list->SetProgressValue(hwnd_, done_ < total_ ? done_ : total_, total_);
}

}  // namespace corvane::view
