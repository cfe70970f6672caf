// A simulated machine ready for the hand-off: drives C: and D:, the command
// interpreter at C:\Windows\System32\Cmd.exe (tools/cmd-standin), the payload
// unpacked into the work folder as the program does at start-up, and a
// bootmgr at the root of C:. The boot store of the stand-in editor lives
// beside it in the work folder.
#pragma once
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "handoff/boot_entry.h"
#include "platform/platform.h"
#include "shell/startup.h"
#include "tests/support/test_support.h"

namespace corvane::test {

class HandoffMachine : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    Patch({{"drives", {{"C", 3}, {"D", 3}}}});
    namespace fs = std::filesystem;
    const fs::path cmd = Host("C:\\Windows") + "/System32/cmd.exe";
    fs::create_directories(cmd.parent_path());
    fs::copy_file(CMD_STANDIN, cmd);
    ASSERT_TRUE(plat::ForceDirectories(WorkFolder()));
    ASSERT_TRUE(UnpackPayload());
#ifndef PAYLOAD_HAS_STANDIN
    fs::copy_file(BCDEDIT_STANDIN, Host(Work("bcdedit.exe")), fs::copy_options::overwrite_existing);
#endif
    // Until the payload carries the loader files, stand-ins of them.
    for (const char* name : {"qxldr", "qxldr.mbr"})
      if (!plat::FileExists(Work(name))) MakeFile(Work(name), std::string("loader file ") + name);
    MakeFile("C:\\bootmgr", "boot manager");
  }

  static std::string Work(const std::string& name) { return WorkFolder() + "\\" + name; }

  void ChineseMachine() { Patch({{"codepage", "GBK"}, {"oemcodepage", "CP936"}, {"uiLanguage", "zh-CN"}}); }

  // An editor of our own in place of the payload's: a script printing `say`
  // for every command and, when given, appending its arguments to a log.
  void ScriptedEditor(const std::string& say) {
    const std::string path = Host(Work("bcdedit.exe"));
    std::ofstream(path, std::ios::trunc) << "#!/bin/sh\necho \"$*\" >>\"$(dirname \"$0\")/calls.log\"\n"
                                         << say << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
  }
  std::string EditorCalls() { return Text(Work("calls.log")); }

  std::string Text(const std::string& winPath) {
    std::string s;
    plat::ReadWholeFile(winPath, s);
    return s;
  }
  nlohmann::json Store() { return nlohmann::json::parse(Text(Work("bcdstore.json"))); }
  // How many entries of the store carry the hand-off's identifier.
  int EntriesWithOurId() {
    int n = 0;
    for (auto& [id, entry] : Store()["entries"].items()) n += id == "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";
    return n;
  }
};

}  // namespace corvane::test
