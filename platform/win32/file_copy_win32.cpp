// CopyFileSafely on Windows: our own loop rather than CopyFileEx, which does
// not share writing on the source, so that a document open in its program is
// still copied.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/file_copy.h"
#include "platform/win32/win_handle.h"
#include "platform/win32/win_path.h"

namespace plat {
namespace {

using win::WinPath;

constexpr DWORD kBufferBytes = 1u << 20;
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

void RemoveTemp(const std::wstring& tmp) {
  ::SetFileAttributesW(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(tmp.c_str());
}

// The path below its drive, as the file system names an open file
// ("\WIN10DATA\x.cvpart").
std::wstring BelowDrive(const std::wstring& path) {
  std::wstring p = path;
  if (p.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    p = p.substr(8);
    const size_t server = p.find(L'\\');
    const size_t share = server == std::wstring::npos ? server : p.find(L'\\', server + 1);
    return share == std::wstring::npos ? std::wstring() : p.substr(share);
  }
  if (p.rfind(L"\\\\?\\", 0) == 0) p = p.substr(4);
  return p.size() >= 2 && p[1] == L':' ? p.substr(2) : p;
}

// Whether the open file is where its name says, with no junction or link on
// the way that leads it somewhere else: the name the file system gives the
// open file (below its volume, after every link) must end with the path it
// was opened by (a substituted drive adds in front, which is harmless).
bool WhereNamed(HANDLE h, const std::wstring& opened) {
  std::vector<char> buf(4096);
  if (!::GetFileInformationByHandleEx(h, FileNameInfo, buf.data(), static_cast<DWORD>(buf.size()))) {
    if (::GetLastError() != ERROR_MORE_DATA) return false;
    buf.resize(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    if (!::GetFileInformationByHandleEx(h, FileNameInfo, buf.data(), static_cast<DWORD>(buf.size()))) return false;
  }
  const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buf.data());
  const std::wstring real(info->FileName, info->FileNameLength / sizeof(wchar_t));
  const std::wstring want = BelowDrive(opened);
  if (want.empty() || real.size() < want.size()) return false;
  return ::CompareStringOrdinal(real.c_str() + (real.size() - want.size()), static_cast<int>(want.size()),
                                want.c_str(), static_cast<int>(want.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

CopyResult CopyFileSafely(const std::string& from, const std::string& to, const CopyGoOn& goOn) {
  if (corvane::EqualsNoCase(from, to)) return CopyResult::Failed;
  const std::wstring wFrom = WinPath(from), wTo = WinPath(to), wTmp = WinPath(to + kCopyTempSuffix);

  // Reading only, sharing everything: another program may keep the file open
  // for writing or delete it meanwhile. No write access is asked for, so the
  // source's data, attributes and times cannot change through this handle.
  WinHandle in;
  in.h = ::CreateFileW(wFrom.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (!in.ok()) return CopyResult::Failed;
  // (Attributes, times and size alone: the volume's details, which
  // GetFileInformationByHandle also fetches, cost a round to the mount
  // manager per file under Wine.)
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!::GetFileInformationByHandleEx(in.h, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileInformationByHandleEx(in.h, FileStandardInfo, &standard, sizeof standard) || standard.Directory)
    return CopyResult::Failed;
  // Up to the size the source had when it was opened: a file that another
  // program keeps writing to still ends.
  const int64_t size = standard.EndOfFile.QuadPart;

  // A new file: what a cancelled or broken run left under this name goes
  // first, and nothing else is ever written through. It has the source's
  // attributes from the start (a file made read-only can still be written
  // through the handle that made it).
  const DWORD attrs = basic.FileAttributes & kCopiedAttributes;
  WinHandle out;
  auto createTemp = [&] {
    return ::CreateFileW(wTmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         (attrs ? attrs : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  };
  out.h = createTemp();
  if (!out.ok() && ::GetLastError() == ERROR_FILE_EXISTS) {
    RemoveTemp(wTmp);
    out.h = createTemp();
  }
  if (!out.ok()) return CopyResult::Failed;
  auto giveUp = [&](CopyResult r) {
    out.Close();
    RemoveTemp(wTmp);
    return r;
  };
  // A junction inside the destination folders must not carry the copy
  // elsewhere (the program runs elevated; the folders may be writable by
  // anyone).
  if (!WhereNamed(out.h, wTmp)) return giveUp(CopyResult::Failed);

  // A large file's whole length at once: a full drive fails here rather
  // than half-way, and the file is laid out in one piece where it can be.
  LARGE_INTEGER len;
  if (size >= kCopyChunkBytes) {
    len.QuadPart = size;
    if (!::SetFilePointerEx(out.h, len, nullptr, FILE_BEGIN) || !::SetEndOfFile(out.h))
      return giveUp(CopyResult::Failed);
    len.QuadPart = 0;
    ::SetFilePointerEx(out.h, len, nullptr, FILE_BEGIN);
  }

  std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(size, 1), kBufferBytes)));
  int64_t done = 0, sinceLook = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(std::min<int64_t>(size - done, buffer.size()));
    DWORD got = 0;
    // A range another program has locked fails the read.
    if (!::ReadFile(in.h, buffer.data(), want, &got, nullptr)) return giveUp(CopyResult::Failed);
    if (got == 0) break;  // the source became shorter meanwhile
    for (DWORD written = 0; written < got;) {
      DWORD w = 0;
      if (!::WriteFile(out.h, buffer.data() + written, got - written, &w, nullptr) || w == 0)
        return giveUp(CopyResult::Failed);
      written += w;
    }
    done += got;
    sinceLook += got;
    if (sinceLook >= kCopyChunkBytes && done < size) {
      sinceLook = 0;
      if (goOn && !goOn(done)) return giveUp(CopyResult::Cancelled);
    }
  }
  if (done < size) {
    len.QuadPart = done;
    if (!::SetFilePointerEx(out.h, len, nullptr, FILE_BEGIN) || !::SetEndOfFile(out.h))
      return giveUp(CopyResult::Failed);
  }
  // The copy keeps the source's last-write time, as the system's copy does.
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart);
  written.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart >> 32);
  if (!::SetFileTime(out.h, nullptr, nullptr, &written)) return giveUp(CopyResult::Failed);
  if (!out.Close()) {
    RemoveTemp(wTmp);
    return CopyResult::Failed;
  }
  in.Close();
  // The whole copy takes the real name. An older copy goes even when it
  // carries the read-only attribute it took from its source; otherwise the
  // backup of a read-only file would never be brought up to date.
  if (::MoveFileExW(wTmp.c_str(), wTo.c_str(), MOVEFILE_REPLACE_EXISTING)) return CopyResult::Copied;
  const DWORD old = ::GetFileAttributesW(wTo.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !(old & FILE_ATTRIBUTE_DIRECTORY) &&
      ::SetFileAttributesW(wTo.c_str(), old & ~FILE_ATTRIBUTE_READONLY)) {
    if (::MoveFileExW(wTmp.c_str(), wTo.c_str(), MOVEFILE_REPLACE_EXISTING)) return CopyResult::Copied;
    // Still refused (held open by another program): the older copy stays as
    // it was, read-only included.
    ::SetFileAttributesW(wTo.c_str(), old);
  }
  RemoveTemp(wTmp);
  return CopyResult::Failed;
}

}  // namespace plat
