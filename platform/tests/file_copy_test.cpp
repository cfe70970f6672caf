// The backup's copy of one file, natively on the simulated machine and under
// Wine on the real Windows functions: the same cases on both.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/file_copy.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exclusive_file.h"
#endif

namespace {

namespace fs = std::filesystem;
using plat::CopyFileSafely;
using plat::CopyResult;

#ifdef _WIN32
class FileCopyTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = corvane::test::MakeTempDir("copy"); }
  void TearDown() override { plat::RemoveTree(root_); }
  std::string P(const std::string& rel) const { return root_ + "\\" + rel; }
  std::string root_;
};
#else
class FileCopyTest : public corvane::test::SimMachineTest {
 protected:
  std::string P(const std::string& rel) const { return "C:\\T\\" + rel; }
};
#endif

fs::path HostFs(const std::string& path) { return fs::u8path(plat::HostPath(path)); }

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

void Make(const std::string& path, const std::string& content) {
  ASSERT_TRUE(plat::ForceDirectories(corvane::ExtractFilePath(path))) << path;
  ASSERT_TRUE(plat::WriteWholeFile(path, content)) << path;
}

std::string Read(const std::string& path) {
  std::string s;
  EXPECT_TRUE(plat::ReadWholeFile(path, s)) << path;
  return s;
}

// Names in the folder of path that end like the temporary copies.
std::vector<std::string> Temps(const std::string& folder) {
  std::vector<plat::DirEntry> entries;
  plat::ListDirectory(folder, entries);
  std::vector<std::string> out;
  for (const auto& e : entries)
    if (corvane::EndsWith(e.name, plat::kCopyTempSuffix)) out.push_back(e.name);
  return out;
}

// What must not change on a source: bytes, attributes, times.
struct SourceState {
  std::string bytes;
  uint32_t attrs = 0;
  fs::file_time_type written;
#ifndef _WIN32
  struct timespec accessed {};
#endif
  static SourceState Of(const std::string& path) {
    SourceState s;
#ifndef _WIN32
    // Read without moving the access time on.
    struct stat st;
    ::stat(plat::HostPath(path).c_str(), &st);
    s.accessed = st.st_atim;
    const int fd = ::open(plat::HostPath(path).c_str(), O_RDONLY | O_NOATIME);
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) s.bytes.append(buf, static_cast<size_t>(n));
    ::close(fd);
#else
    s.bytes = Read(path);
#endif
    s.attrs = plat::FileAttributes(path);
    s.written = fs::last_write_time(HostFs(path));
    return s;
  }
  void ExpectSame(const SourceState& o) const {
    EXPECT_EQ(bytes, o.bytes);
    EXPECT_EQ(attrs, o.attrs);
    EXPECT_EQ(written, o.written);
#ifndef _WIN32
    EXPECT_EQ(accessed.tv_sec, o.accessed.tv_sec);
    EXPECT_EQ(accessed.tv_nsec, o.accessed.tv_nsec);
#endif
  }
};

// A folder link (a junction where Windows lets us make one, else a symbolic
// link); false when this system makes neither.
bool MakeFolderLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  const std::wstring wl = corvane::Widen(link), wt = corvane::Widen(target);
  if (::CreateDirectoryW(wl.c_str(), nullptr)) {
    HANDLE h = ::CreateFileW(wl.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      // A mount-point reparse buffer: substitute name "\??\target", empty print name.
      const std::wstring sub = L"\\??\\" + wt;
      std::vector<char> buf(8 + 8 + (sub.size() + 2) * sizeof(wchar_t));
      auto* p = buf.data();
      const auto put16 = [&](size_t at, uint16_t v) { std::memcpy(p + at, &v, 2); };
      const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
      std::memcpy(p, &tag, 4);
      put16(4, static_cast<uint16_t>(buf.size() - 8));
      put16(8, 0);
      put16(10, static_cast<uint16_t>(sub.size() * sizeof(wchar_t)));
      put16(12, static_cast<uint16_t>((sub.size() + 1) * sizeof(wchar_t)));
      put16(14, 0);
      std::memcpy(p + 16, sub.c_str(), (sub.size() + 1) * sizeof(wchar_t));
      DWORD got = 0;
      const BOOL ok = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()),
                                        nullptr, 0, &got, nullptr);
      ::CloseHandle(h);
      if (ok) return true;
    }
    ::RemoveDirectoryW(wl.c_str());
  }
  return ::CreateSymbolicLinkW(wl.c_str(), wt.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
#else
  return ::symlink(plat::HostPath(target).c_str(), plat::HostPath(link).c_str()) == 0;
#endif
}

TEST_F(FileCopyTest, CopyTakesBytesTimeAndAttributesAndLeavesTheSourceAsItWas) {
  const std::string src = P("src\\报告.doc"), dst = P("dst\\报告.doc");
  Make(src, Pattern(3 * 1024 * 1024 + 17, 1));
  ASSERT_TRUE(plat::SetAttributes(src, plat::kAttrHidden | plat::kAttrArchive));
  fs::last_write_time(HostFs(src), fs::last_write_time(HostFs(src)) - std::chrono::hours(30 * 24));
#ifndef _WIN32
  // The access time as old as the write time: an ordinary read would move it
  // on (relatime).
  const struct timespec old[2] = {{::time(nullptr) - 30 * 86400, 0}, {::time(nullptr) - 30 * 86400, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, plat::HostPath(src).c_str(), old, 0), 0);
#endif
  const SourceState before = SourceState::Of(src);
  ASSERT_TRUE(plat::ForceDirectories(P("dst")));

  EXPECT_EQ(CopyFileSafely(src, dst, nullptr), CopyResult::Copied);
  SourceState::Of(src).ExpectSame(before);
  EXPECT_EQ(Read(dst), before.bytes);
  EXPECT_EQ(plat::FileAttributes(dst), before.attrs);
  EXPECT_EQ(fs::last_write_time(HostFs(dst)), before.written);
  EXPECT_TRUE(Temps(P("dst")).empty());

  // An empty file is a file too.
  Make(P("src\\empty"), "");
  EXPECT_EQ(CopyFileSafely(P("src\\empty"), P("dst\\empty"), nullptr), CopyResult::Copied);
  EXPECT_TRUE(plat::FileExists(P("dst\\empty")));
}

TEST_F(FileCopyTest, AnOlderCopyIsReplacedEvenWhenReadOnlyAndALeftoverTempGoes) {
  const std::string src = P("src\\a.txt"), dst = P("dst\\a.txt");
  Make(src, "new contents");
  ASSERT_TRUE(plat::SetAttributes(src, plat::kAttrReadOnly));
  Make(dst, "old");
  ASSERT_TRUE(plat::SetAttributes(dst, plat::kAttrReadOnly));
  Make(dst + plat::kCopyTempSuffix, "left by a broken run");
  ASSERT_TRUE(plat::SetAttributes(dst + plat::kCopyTempSuffix, plat::kAttrReadOnly | plat::kAttrHidden));

  EXPECT_EQ(CopyFileSafely(src, dst, nullptr), CopyResult::Copied);
  EXPECT_EQ(Read(dst), "new contents");
  EXPECT_TRUE(plat::FileAttributes(dst) & plat::kAttrReadOnly) << "the copy keeps the source's attribute";
  EXPECT_TRUE(Temps(P("dst")).empty());
  // And the next run replaces that read-only copy again.
  ASSERT_TRUE(plat::SetAttributes(src, plat::kAttrArchive));
  ASSERT_TRUE(plat::WriteWholeFile(src, "newer"));
  EXPECT_EQ(CopyFileSafely(src, dst, nullptr), CopyResult::Copied);
  EXPECT_EQ(Read(dst), "newer");
  // An older copy spelt in other letters is the same file.
  Make(P("dst\\B.TXT"), "old");
  Make(P("src\\b.txt"), "new");
  EXPECT_EQ(CopyFileSafely(P("src\\b.txt"), P("dst\\b.txt"), nullptr), CopyResult::Copied);
  std::vector<plat::DirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(P("dst"), entries));
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_EQ(Read(P("dst\\B.TXT")), "new");
}

TEST_F(FileCopyTest, CancelBetweenChunksRemovesTheUnfinishedCopyAndKeepsTheOlderOne) {
  const std::string src = P("src\\big.bin"), dst = P("dst\\big.bin");
  const int64_t size = 3 * plat::kCopyChunkBytes + 5;
  Make(src, Pattern(static_cast<size_t>(size), 2));
  Make(dst, "an older good copy");
  std::vector<int64_t> looks;
  const auto result = CopyFileSafely(src, dst, [&](int64_t copied) {
    looks.push_back(copied);
    return looks.size() < 2;
  });
  EXPECT_EQ(result, CopyResult::Cancelled);
  // Looked at no more than a chunk apart, so a cancel takes effect within the
  // time one chunk takes to copy.
  ASSERT_EQ(looks.size(), 2u);
  EXPECT_GT(looks[0], 0);
  EXPECT_LE(looks[0], plat::kCopyChunkBytes);
  EXPECT_LE(looks[1] - looks[0], plat::kCopyChunkBytes);
  EXPECT_LT(looks[1], size);
  EXPECT_EQ(Read(dst), "an older good copy");
  EXPECT_TRUE(Temps(P("dst")).empty());

  // Going on to the end gives the whole file; the last chunk needs no look.
  looks.clear();
  EXPECT_EQ(CopyFileSafely(src, dst, [&](int64_t c) { looks.push_back(c); return true; }), CopyResult::Copied);
  EXPECT_EQ(looks.size(), 3u);
  EXPECT_EQ(plat::FileSize(dst), size);
}

TEST_F(FileCopyTest, FailuresLeaveNothingBehind) {
  Make(P("src\\a.txt"), "a");
  // No source, a folder as source, a destination folder that is missing, a
  // folder in the destination's place, the source as its own destination.
  EXPECT_EQ(CopyFileSafely(P("src\\none.txt"), P("dst\\none.txt"), nullptr), CopyResult::Failed);
  ASSERT_TRUE(plat::ForceDirectories(P("src\\folder")));
  ASSERT_TRUE(plat::ForceDirectories(P("dst\\a.txt")));
  EXPECT_EQ(CopyFileSafely(P("src\\folder"), P("dst\\folder"), nullptr), CopyResult::Failed);
  EXPECT_EQ(CopyFileSafely(P("src\\a.txt"), P("nowhere\\a.txt"), nullptr), CopyResult::Failed);
  EXPECT_EQ(CopyFileSafely(P("src\\a.txt"), P("dst\\a.txt"), nullptr), CopyResult::Failed);
  EXPECT_EQ(CopyFileSafely(P("src\\a.txt"), P("SRC\\A.TXT"), nullptr), CopyResult::Failed);
  EXPECT_EQ(Read(P("src\\a.txt")), "a");
  EXPECT_TRUE(Temps(P("dst")).empty());
  EXPECT_FALSE(plat::FileExists(P("dst\\folder")));
}

TEST_F(FileCopyTest, AFileHeldWithoutSharingIsNotCopiedAndOneOpenForWritingIs) {
  const std::string locked = P("src\\locked.pst"), open = P("src\\open.docx");
  Make(locked, "held by its program");
  Make(open, "being edited");
  ASSERT_TRUE(plat::ForceDirectories(P("dst")));
#ifdef _WIN32
  HANDLE held = ::CreateFileW(corvane::Widen(locked).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  HANDLE writer = ::CreateFileW(corvane::Widen(open).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
#else
  plat::ExclusiveFile held;
  ASSERT_TRUE(held.Open(locked));
  const int writer = ::open(plat::HostPath(open).c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
#endif
  EXPECT_EQ(CopyFileSafely(locked, P("dst\\locked.pst"), nullptr), CopyResult::Failed);
  EXPECT_EQ(CopyFileSafely(open, P("dst\\open.docx"), nullptr), CopyResult::Copied);
#ifdef _WIN32
  ::CloseHandle(held);
  ::CloseHandle(writer);
#else
  ::close(writer);
#endif
  EXPECT_FALSE(plat::FileExists(P("dst\\locked.pst")));
  EXPECT_EQ(Read(P("dst\\open.docx")), "being edited");
  EXPECT_TRUE(Temps(P("dst")).empty());
}

#ifdef _WIN32
TEST_F(FileCopyTest, AnOlderReadOnlyCopyHeldByAnotherProgramStaysAsItWas) {
  const std::string src = P("src\\a.txt"), dst = P("dst\\a.txt");
  Make(src, "new contents");
  Make(dst, "older copy");
  ASSERT_TRUE(plat::SetAttributes(dst, plat::kAttrReadOnly));
  // Open for reading by its viewer, which does not share deleting: the
  // older copy cannot be replaced.
  HANDLE held = ::CreateFileW(corvane::Widen(dst).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const CopyResult r = CopyFileSafely(src, dst, nullptr);
  ::CloseHandle(held);
  EXPECT_EQ(r, CopyResult::Failed);
  EXPECT_EQ(Read(dst), "older copy");
  EXPECT_EQ(plat::FileAttributes(dst) & plat::kAttrReadOnly, plat::kAttrReadOnly);
  EXPECT_TRUE(Temps(P("dst")).empty());
}
#endif

TEST_F(FileCopyTest, PathsLongerThan260CharactersAreCopied) {
  std::string folder = P("src");
  std::string target = P("dst");
  for (int i = 0; i < 8; ++i) {
    const std::string part = "\\" + std::string(40, static_cast<char>('a' + i));
    folder += part;
    target += part;
  }
  const std::string src = folder + "\\file.txt", dst = target + "\\file.txt";
  ASSERT_GT(dst.size(), 300u);
  Make(src, "deep");
  ASSERT_TRUE(plat::ForceDirectories(target));
  EXPECT_EQ(CopyFileSafely(src, dst, nullptr), CopyResult::Copied);
  EXPECT_EQ(Read(dst), "deep");
  std::vector<plat::DirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(target, entries));
  EXPECT_EQ(entries.size(), 1u);
}

TEST_F(FileCopyTest, ALinkInTheDestinationFoldersDoesNotCarryTheCopyElsewhere) {
  Make(P("src\\evil.dll"), "planted");
  ASSERT_TRUE(plat::ForceDirectories(P("protected")));
  ASSERT_TRUE(plat::ForceDirectories(P("dst")));
  // (Wine 8 makes neither a junction nor a symbolic link, whatever it answers.)
  std::vector<plat::DirEntry> made;
  const bool linked = MakeFolderLink(P("dst\\sub"), P("protected")) && plat::ListDirectory(P("dst"), made) &&
                      made.size() == 1 && made[0].link && (made[0].attrs & plat::kAttrDirectory);
  if (!linked) GTEST_SKIP() << "no folder links here";
  EXPECT_EQ(CopyFileSafely(P("src\\evil.dll"), P("dst\\sub\\evil.dll"), nullptr), CopyResult::Failed);
  std::vector<plat::DirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(P("protected"), entries));
  EXPECT_TRUE(entries.empty()) << (entries.empty() ? "" : entries.front().name);
}

}  // namespace
