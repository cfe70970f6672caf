// The update component: it fetches and reads the information file, downloads
// the new files beside their targets as target + ".uTMP", checks them, and
// hands over to the replacer, which puts them in place after the program has
// closed. The window owns one and handles its events.
//
// Threads: CheckUpdate(true) blocks the calling worker for one request.
// CheckUpdate(false) starts the update on the component's own transfer
// thread and returns; the events are handed to the UI thread (posted, never
// waited for). One update runs at a time.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "update/UpdateProgress.h"

namespace corvane {

class TUpdater {
 public:
  struct Events {
    std::function<void(const UpdateProgress&)> OnProgress;        // as the data arrives
    std::function<void()> OnRestart;                             // the replacer has been started (or failed to): close
    std::function<void(const std::string& url)> OnOpenWebPage;  // method "2"
    // A line for the diagnostic log; any thread (the transfer thread).
    std::function<void(const std::string& line)> Log;
  };

  static constexpr const char* kVersionNumber = "7";  // the program's own update version
  static constexpr const char* kRestartParams = "/afterupgrade";
  static constexpr const char* kReplacerName = "Upgrader4.exe";
  static constexpr const char* kQueueName = "UpgraderQueue.txt";

  TUpdater(UiThread& ui, Clock& clock, Events events);
  // Waits for an update that still runs (the window never goes before the
  // process ends; tests let it finish first).
  ~TUpdater();
  TUpdater(const TUpdater&) = delete;
  TUpdater& operator=(const TUpdater&) = delete;

  // Set before every check; safe from any thread.
  void SetInfoFileURL(const std::string& url);
  std::string InfoFileURL() const;

  // true: fetches and reads the information file and answers whether it
  // offers a newer version with at least one file (nothing is downloaded).
  // false: starts the update and returns at once (false when one runs).
  bool CheckUpdate(bool JustCheckIsUpdateAvailable);

  bool Updating() const { return updating_.load(); }

  // Deletes a replacer left in the temporary folder by an earlier update.
  static void DeleteLeftoverReplacer();

 private:
  void Transfer(const std::string& infoUrl);
  void Post(std::function<void()> fn);
  void ReportProgress(const UpdateProgress& p, bool always);

  UiThread& ui_;
  Clock& clock_;
  Events events_;
  // Every address ever set, newest first; a reader copies the newest while
  // another thread may set a new one, so none is freed before the component.
  struct UrlNode {
    const std::string url;
    UrlNode* older;
  };
  std::atomic<UrlNode*> infoFileUrl_{nullptr};
  std::atomic<bool> updating_{false};
  std::atomic<bool> progressQueued_{false};
  std::thread thread_;
};

}  // namespace corvane
