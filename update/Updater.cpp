#include "update/Updater.h"

#include <vector>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/code_signature.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/programs.h"
#include "update/Authenticity.h"
#include "update/UpdateInfo.h"
#include "update/UpdateTargets.h"

namespace corvane {
namespace {

constexpr size_t kWriteChunk = 256 * 1024;

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// The information file as text: UTF-8 with or without its byte-order mark,
// otherwise the system's ANSI code page.
std::string DecodeInfoFile(const std::string& bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return bytes.substr(3);
  return IsUtf8(bytes) ? bytes : plat::AnsiToUtf8(bytes);
}

bool FetchInfoFile(const std::string& url, UpdateInfo& info) {
  plat::HttpReply reply;
  if (!plat::HttpGet(url, reply) || reply.status < 200 || reply.status > 299 || reply.body.empty()) return false;
  info = ReadUpdateInfo(DecodeInfoFile(reply.body));
  return true;
}

std::string WithSlashFolder(const std::string& folder) {
  return folder.empty() ? folder : IncludeTrailingBackslash(folder);
}

std::string ShellFolderOrEmpty(const char* name) {
  try {
    return GetShellFolder(name);
  } catch (...) {
    return {};
  }
}

MarkerFolders MachineFolders(const std::string& programFolder, const std::string& temp) {
  MarkerFolders f;
  f.current = programFolder;
  f.desktop = WithSlashFolder(ShellFolderOrEmpty("Desktop"));
  f.myDocuments = WithSlashFolder(ShellFolderOrEmpty("Personal"));
  f.myPictures = WithSlashFolder(ShellFolderOrEmpty("My Pictures"));
  f.appData = WithSlashFolder(ShellFolderOrEmpty("AppData"));
  f.windows = WithSlashFolder(plat::WindowsDirectory());
  f.system = WithSlashFolder(plat::SystemFolder());
  f.temp = temp;
  DeriveWindowsMarkers(f);
  return f;
}

std::string Quoted(const std::string& path) {
  return path.find(' ') != std::string::npos ? "\"" + path + "\"" : path;
}

// The web page of method "2": an address without a scheme gets "http://";
// anything but a web address is refused (the program runs as administrator).
std::string WebPageAddress(const std::string& entry) {
  std::string url = SplitEntry(entry).url;
  if (url.find("://") == std::string::npos) url = "http://" + url;
  const std::string lower = LowerAscii(url);
  return StartsWith(lower, "http://") || StartsWith(lower, "https://") ? url : std::string();
}

}  // namespace

// One update, on the transfer thread: the steps after the check.
class UpdateRun {
 public:
  UpdateRun(Clock& clock, std::function<void(const UpdateProgress&, bool)> report,
            std::function<void(const std::string&)> log)
      : clock_(clock), report_(std::move(report)), log_(std::move(log)) {}

  // Resolves and checks every target before anything is written.
  bool PlanTargets(const UpdateInfo& info) {
    programPath_ = plat::ProgramPath();
    programFolder_ = ExtractFilePath(programPath_);
    temp_ = IncludeTrailingBackslash(plat::LongPathName(GetTempDir()));
    const MarkerFolders folders = MachineFolders(programFolder_, temp_);
    for (const std::string& e : info.entries) {
      const FileEntry entry = SplitEntry(e);
      Target t = ResolveTarget(entry, folders);
      if (t.problem.empty() && t.explicitLocal && plat::AnsiToUtf8(plat::Utf8ToAnsi(t.path)) != t.path)
        t.problem = "not expressible in the system's code page";
      if (!t.problem.empty()) {
        Log("Update Error: refused target \"" + t.path + "\" of " + entry.url + ": " + t.problem);
        return false;
      }
      urls_.push_back(entry.url);
      targets_.push_back(t);
    }
    return true;
  }

  bool DownloadAll() {
    for (size_t i = 0; i < targets_.size(); ++i) {
      if (!Download(i)) {
        Log("Update Error: download of " + urls_[i] + " failed");
        RemoveDownloads(httpError_);
        return false;
      }
    }
    return true;
  }

  bool CheckSignatures() {
    const plat::CodeSignature own = plat::ReadCodeSignature(programPath_);
    if (own.state == plat::SignatureState::Unsigned) {
      Log("Update: the program carries no signature; the downloaded files are not checked for one");
      return true;
    }
    std::vector<SignedFile> programs;
    for (const Target& t : targets_) {
      const std::string tmp = t.path + ".uTMP";
      std::string head;
      plat::ReadWholeFile(tmp, head);
      if (IsWindowsProgram(std::string_view(head).substr(0, 2), t.path))
        programs.push_back({t.path, plat::ReadCodeSignature(tmp)});
    }
    const std::string problem = AuthenticityProblem(own, programs);
    if (problem.empty()) return true;
    Log("Update Error: refused, " + problem);
    RemoveDownloads(false);
    return false;
  }

  // Writes the queue and starts the replacer; false when it did not start.
  bool HandOver(const UpdateInfo& info) {
    const std::string queue = temp_ + TUpdater::kQueueName;
    std::string lines;
    for (const Target& t : targets_)
      if (t.explicitLocal) lines += t.path + "\r\n";
    if (!lines.empty())
      plat::WriteWholeFile(queue, plat::Utf8ToAnsi(lines));
    else
      plat::RemoveFile(queue);  // one left from an update that never ran would move stale files
    std::string_view image;
    if (!plat::FindResourceData("EXE", "AUUPG", image)) {
      Log("Update Error: the replacer is missing from the program");
      return false;
    }
    const std::string replacer = temp_ + TUpdater::kReplacerName;
    const std::string line = Quoted(replacer) + " " + Quoted(programPath_) + " +" + TUpdater::kRestartParams +
                             std::string(1, UpdateMethodDigit(info));
    if (!plat::WriteAndStartProgram(replacer, image, line)) {
      Log("Update Error: the replacer could not be started");
      return false;
    }
    return true;
  }

 private:
  bool Download(size_t index) {
    const std::string tmp = targets_[index].path + ".uTMP";
    plat::ForceDirectories(ExcludeTrailingBackslash(ExtractFilePath(tmp)));
    plat::SetAttributes(tmp, plat::kAttrNormal);
    plat::RemoveFile(tmp);
    if (!plat::WriteWholeFile(tmp, "")) return false;
    written_.push_back(tmp);
    plat::SetAttributes(tmp, plat::kAttrHidden);  // hidden while incomplete

    const std::string& url = urls_[index];
    const int count = static_cast<int>(targets_.size());
    const int64_t start = clock_.NowMs();
    int64_t size = -1, read = 0;
    std::string pending;
    bool diskOk = true;
    auto flush = [&] {
      diskOk = diskOk && plat::AppendToFile(tmp, pending);
      pending.clear();
      return diskOk;
    };
    auto progress = [&] { return ComputeProgress(url, size, read, clock_.NowMs() - start, static_cast<int>(index), count); };
    const plat::HttpStreamResult r = plat::HttpGetStream(
        url,
        [&](int status, int64_t length) {
          if (status < 200 || status > 299) return false;
          size = length;
          report_(progress(), false);
          return true;
        },
        [&](const char* data, size_t n) {
          pending.append(data, n);
          read += static_cast<int64_t>(n);
          if (pending.size() >= kWriteChunk && !flush()) return false;
          report_(progress(), false);
          return true;
        });
    httpError_ = r.replied && (r.status < 200 || r.status > 299);
    if (!r.complete || httpError_ || !flush()) return false;
    plat::SetAttributes(tmp, plat::kAttrArchive);
    report_(progress(), true);
    return true;
  }

  // Removes the ".uTMP" files of this update: a partial or refused file must
  // never be moved into place by a later update's replacer. After an HTTP
  // error status also every other ".uTMP" file in the program's folder.
  void RemoveDownloads(bool allInProgramFolder) {
    for (const std::string& tmp : written_) {
      plat::SetAttributes(tmp, plat::kAttrNormal);
      plat::RemoveFile(tmp);
    }
    if (!allInProgramFolder) return;
    std::vector<plat::DirEntry> entries;
    plat::ListDirectory(programFolder_, entries);
    for (const auto& e : entries) {
      if ((e.attrs & plat::kAttrDirectory) || !EndsWithNoCase(e.name, ".uTMP")) continue;
      plat::SetAttributes(programFolder_ + e.name, plat::kAttrNormal);
      plat::RemoveFile(programFolder_ + e.name);
    }
  }

  void Log(const std::string& line) {
    if (log_) log_(line);
  }

  Clock& clock_;
  std::function<void(const UpdateProgress&, bool)> report_;
  std::function<void(const std::string&)> log_;
  std::string programPath_, programFolder_, temp_;
  std::vector<std::string> urls_;
  std::vector<Target> targets_;
  std::vector<std::string> written_;
  bool httpError_ = false;
};

TUpdater::TUpdater(UiThread& ui, Clock& clock, Events events) : ui_(ui), clock_(clock), events_(std::move(events)) {}

TUpdater::~TUpdater() {
  if (thread_.joinable()) thread_.join();
  for (UrlNode* n = infoFileUrl_.load(); n;) {
    UrlNode* older = n->older;
    delete n;
    n = older;
  }
}

void TUpdater::SetInfoFileURL(const std::string& url) {
  auto* node = new UrlNode{url, infoFileUrl_.load(std::memory_order_relaxed)};
  while (!infoFileUrl_.compare_exchange_weak(node->older, node, std::memory_order_release, std::memory_order_relaxed)) {
  }
}

std::string TUpdater::InfoFileURL() const {
  const UrlNode* n = infoFileUrl_.load(std::memory_order_acquire);
  return n ? n->url : std::string();
}

void TUpdater::DeleteLeftoverReplacer() {
  const std::string path = IncludeTrailingBackslash(plat::LongPathName(GetTempDir())) + kReplacerName;
  plat::SetAttributes(path, plat::kAttrNormal);
  plat::RemoveFile(path);
}

bool TUpdater::CheckUpdate(bool JustCheckIsUpdateAvailable) {
  if (JustCheckIsUpdateAvailable) {
    try {
      UpdateInfo info;
      return FetchInfoFile(InfoFileURL(), info) && OffersUpdate(info, kVersionNumber);
    } catch (...) {
      return false;
    }
  }
  if (updating_.exchange(true)) return false;  // one update at a time
  if (thread_.joinable()) thread_.join();      // an earlier one that has ended
  try {
    thread_ = std::thread([this, url = InfoFileURL()] { Transfer(url); });
  } catch (...) {
    updating_ = false;
    return false;
  }
  return true;
}

void TUpdater::Post(std::function<void()> fn) { ui_.Post(std::move(fn)); }

// Progress reaches the UI thread as copied values; while one notification
// waits there, newer ones are dropped, except a file's last.
void TUpdater::ReportProgress(const UpdateProgress& p, bool always) {
  if (progressQueued_.exchange(true) && !always) return;
  Post([this, p] {
    progressQueued_ = false;
    if (events_.OnProgress) events_.OnProgress(p);
  });
}

void TUpdater::Transfer(const std::string& infoUrl) {
  auto Log = [this](const std::string& line) {
    if (events_.Log) events_.Log(line);
  };
  try {
    UpdateInfo info;
    if (!FetchInfoFile(infoUrl, info) || !OffersUpdate(info, kVersionNumber)) {
      updating_ = false;
      return;
    }
    if (IsWebPageMethod(info)) {
      const std::string page = WebPageAddress(info.entries.front());
      if (page.empty())
        Log("Update Error: refused to open " + info.entries.front());
      else
        Post([this, page] {
          if (events_.OnOpenWebPage) events_.OnOpenWebPage(page);
        });
      updating_ = false;
      return;
    }
    UpdateRun run(
        clock_, [this](const UpdateProgress& p, bool always) { ReportProgress(p, always); }, events_.Log);
    if (run.PlanTargets(info) && run.DownloadAll() && run.CheckSignatures()) {
      run.HandOver(info);
      // The program closes even when the replacer could not be started.
      Post([this] {
        if (events_.OnRestart) events_.OnRestart();
      });
    }
  } catch (const std::exception& e) {
    Log(std::string("Update Error:") + e.what());
  } catch (...) {
    Log("Update Error:");
  }
  updating_ = false;
}

}  // namespace corvane
