#include "platform/unzip.h"

#include <algorithm>

#include "common/errors.h"
#include "common/text.h"
#include "common/zip.h"
#include "platform/held.h"
#include "platform/platform.h"

namespace corvane {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw Exception("ZIP: " + what); }

}  // namespace

namespace {

// Creates root\rel folder by folder; with holds, each new one is held
// (one that was there already, or a link, fails).
void MakeFolders(const std::string& root, const std::string& rel, plat::Holds* holds) {
  if (!holds) {
    if (!plat::ForceDirectories(root + rel)) Fail("cannot create folder " + root + rel);
    return;
  }
  std::string path = ExcludeTrailingBackslash(root);
  size_t start = 0;
  while (start <= rel.size()) {
    const size_t end = std::min(rel.find('\\', start), rel.size());
    path += "\\" + rel.substr(start, end - start);
    if (!plat::DirectoryExists(path) || !holds->HoldFolder(path)) {
      if (!plat::CreateDir(path) || !holds->HoldFolder(path)) Fail("cannot create folder " + path);
    }
    start = end + 1;
  }
}

void Extract(std::string_view archive, const std::string& destDir, plat::Holds* holds) {
  ZipReader zip(archive);
  // Check every name before writing anything.
  std::vector<std::string> rel;
  rel.reserve(zip.Entries().size());
  for (const auto& e : zip.Entries()) rel.push_back(SafeRelativePath(e.name));
  const std::string root = IncludeTrailingBackslash(destDir);
  if (!plat::ForceDirectories(root)) Fail("cannot create folder " + root);
  for (size_t i = 0; i < zip.Entries().size(); ++i) {
    const ZipEntry& e = zip.Entries()[i];
    const std::string target = root + rel[i];
    if (e.isDirectory) {
      MakeFolders(root, rel[i], holds);
      continue;
    }
    const size_t cut = rel[i].rfind('\\');
    if (cut != std::string::npos) MakeFolders(root, rel[i].substr(0, cut), holds);
    const std::string bytes = zip.Read(e);
    if (!holds) {
      if (!plat::WriteWholeFile(target, bytes)) Fail("cannot write " + target);
      continue;
    }
    // Into a folder of our own every file is new: a name taken meanwhile
    // (a link that would carry the writing elsewhere) is refused.
    if (!plat::WriteNewFile(target, bytes)) Fail("cannot write " + target);
    if (!holds->HoldFile(target, bytes)) Fail("changed before it could be held: " + target);
  }
}

}  // namespace

void ExtractZipData(std::string_view archive, const std::string& destDir) { Extract(archive, destDir, nullptr); }

void ExtractZipDataHeld(std::string_view archive, const std::string& destDir, plat::Holds& holds) {
  Extract(archive, destDir, &holds);
}

void ExtractZipFile(const std::string& zipPath, const std::string& destDir) {
  std::string data;
  if (!plat::ReadWholeFile(zipPath, data)) Fail("cannot read " + zipPath);
  ExtractZipData(data, destDir);
}

}  // namespace corvane
