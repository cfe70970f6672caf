#include "tools/bcdedit-standin/boot_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

namespace bcdstandin {
namespace {

using Lines = std::vector<std::string>;

const char* const kHelpLine = "Run \"bcdedit /?\" for command line assistance.";
const char* const kParamIncorrect = "The parameter is incorrect.";
const char* const kNotFound = "The system cannot find the file specified.";

// Elements whose value is a list of identifiers, or one identifier.
const char* const kListElements[] = {"displayorder", "toolsdisplayorder", "bootsequence"};
const char* const kIdElements[] = {"default", "resumeobject", "recoverysequence", "inherit"};

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsListElement(const std::string& name) {
  return std::find(std::begin(kListElements), std::end(kListElements), name) != std::end(kListElements);
}
bool IsIdElement(const std::string& name) {
  return std::find(std::begin(kIdElements), std::end(kIdElements), name) != std::end(kIdElements);
}

Outcome Ok(Lines lines = {"The operation completed successfully."}) { return {true, std::move(lines)}; }
Outcome Fail(Lines lines) { return {false, std::move(lines)}; }
Outcome InvalidCommand() { return Fail({"The command specified is not valid.", kHelpLine, kParamIncorrect}); }
Outcome InvalidId() { return Fail({"The specified entry identifier is not valid.", kHelpLine, kParamIncorrect}); }
Outcome NoSuchEntry() { return Fail({"An error occurred while attempting to reference the specified entry.", kNotFound}); }
Outcome BadInteger() { return Fail({"The integer data is not valid as specified.", kHelpLine, kParamIncorrect}); }
Outcome BadElement() { return Fail({"An error has occurred setting the element data.", kParamIncorrect}); }

Json& Entries(Json& store) { return store["entries"]; }
Json& BootMgr(Json& store) { return store["entries"][kBootMgrId]["elements"]; }

bool Exists(const Json& store, const std::string& id) {
  return store.contains("entries") && store["entries"].contains(id);
}

// Identifier in canonical form: the aliases resolved, a GUID lower-cased.
std::optional<std::string> ResolveId(const Json& store, const std::string& text) {
  const std::string t = Lower(text);
  if (t == "{bootmgr}") return std::string(kBootMgrId);
  if (t == "{current}") {
    if (store.contains("current") && store["current"].is_string()) return store["current"].get<std::string>();
    return std::string("{current}");  // resolves, but to no entry
  }
  if (t == "{default}") {
    const Json* e = nullptr;
    if (Exists(store, kBootMgrId)) e = &store["entries"][kBootMgrId]["elements"];
    if (e && e->contains("default")) return (*e)["default"].get<std::string>();
    return std::string("{default}");
  }
  if (auto g = CanonicalGuid(text)) return g;
  // Other well-known names ({globalsettings}, {memdiag}, ...) stand for
  // themselves; the store holds none of them as an entry.
  if (t.size() > 2 && t.front() == '{' && t.back() == '}' &&
      std::all_of(t.begin() + 1, t.end() - 1, [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
    return t;
  return std::nullopt;
}

bool ParseCount(const std::string& s, long long& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  out = std::stoll(s);
  return true;
}

// A device value of the forms the stand-in understands.
std::optional<std::string> NormaliseDevice(const std::string& value) {
  const std::string v = Lower(value);
  if (v == "boot" || v == "locate" || v == "unknown") return v;
  if (v.rfind("partition=", 0) == 0 && value.size() > 10) {
    std::string rest = value.substr(10);
    if (rest.size() == 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':')
      rest[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    return "partition=" + rest;
  }
  if ((v.rfind("ramdisk=", 0) == 0 || v.rfind("file=", 0) == 0 || v.rfind("vhd=", 0) == 0) &&
      value.find('=') + 1 < value.size())
    return value;
  return std::nullopt;
}

// ---- /enum -------------------------------------------------------------------

const char* Heading(const std::string& type) {
  if (type == "bootmgr") return "Windows Boot Manager";
  if (type == "osloader") return "Windows Boot Loader";
  if (type == "bootsector") return "Real-mode Boot Sector";
  if (type == "resume") return "Resume from Hibernate";
  if (type == "device") return "Device options";
  return "Boot Application";
}

std::string Shown(const Json& store, const std::string& id, bool verbose) {
  if (verbose) return id;
  if (id == kBootMgrId) return "{bootmgr}";
  if (store.contains("current") && store["current"] == id) return "{current}";
  const Json& entries = store["entries"];
  if (entries.contains(kBootMgrId)) {
    const Json& bm = entries[kBootMgrId]["elements"];
    if (bm.contains("default") && bm["default"] == id) return "{default}";
  }
  return id;
}

std::string Row(const std::string& name, const std::string& value) {
  std::string r = name;
  r.append(name.size() < 24 ? 24 - name.size() : 1, ' ');
  return r + value;
}

void Describe(const Json& store, const std::string& id, bool verbose, Lines& out) {
  const Json& entry = store["entries"][id];
  const std::string heading = Heading(entry.value("type", ""));
  out.push_back("");
  out.push_back(heading);
  out.push_back(std::string(heading.size(), '-'));
  out.push_back(Row("identifier", Shown(store, id, verbose)));
  if (!entry.contains("elements")) return;
  for (auto it = entry["elements"].begin(); it != entry["elements"].end(); ++it) {
    if (it.value().is_array()) {
      bool first = true;
      for (const auto& v : it.value()) {
        out.push_back(Row(first ? it.key() : "", Shown(store, v.get<std::string>(), verbose)));
        first = false;
      }
      if (first) out.push_back(Row(it.key(), ""));
    } else if (IsIdElement(it.key())) {
      out.push_back(Row(it.key(), Shown(store, it.value().get<std::string>(), verbose)));
    } else {
      out.push_back(Row(it.key(), it.value().get<std::string>()));
    }
  }
}

Outcome Enum(const Json& store, const Lines& args, bool verbose) {
  std::vector<std::string> ids;
  const std::string what = args.size() > 1 ? Lower(args[1]) : "active";
  const Json& entries = store["entries"];
  if (what == "active") {
    if (entries.contains(kBootMgrId)) {
      ids.push_back(kBootMgrId);
      const Json& bm = entries[kBootMgrId]["elements"];
      if (bm.contains("displayorder"))
        for (const auto& v : bm["displayorder"])
          if (entries.contains(v.get<std::string>())) ids.push_back(v.get<std::string>());
    }
  } else if (what == "all") {
    if (entries.contains(kBootMgrId)) ids.push_back(kBootMgrId);
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it.key() != kBootMgrId) ids.push_back(it.key());
  } else if (!what.empty() && what[0] == '{') {
    const auto id = ResolveId(store, args[1]);
    if (!id) return InvalidId();
    if (entries.contains(*id)) ids.push_back(*id);
  } else if (what == "bootmgr" || what == "osloader" || what == "bootsector" || what == "resume" ||
             what == "startup" || what == "device") {
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it.value().value("type", "") == what) ids.push_back(it.key());
  } else {
    return InvalidCommand();
  }
  if (ids.empty()) return Fail({"There are no matching objects or the store is empty."});
  Lines out;
  for (const auto& id : ids) Describe(store, id, verbose, out);
  return Ok(out);
}

// ---- changes -------------------------------------------------------------------

std::string NewGuid() {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
  const uint64_t a = gen(), b = gen();
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08x-%04x-%04x-%04x-%012llx}", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>((a & 0x0FFF) | 0x4000),
                static_cast<unsigned>(((b >> 48) & 0x3FFF) | 0x8000),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return buf;
}

Outcome Create(Json& store, const Lines& args) {
  size_t i = 1;
  std::string id;
  if (i < args.size() && !args[i].empty() && args[i][0] == '{') {
    const auto g = CanonicalGuid(args[i]);
    if (!g) return InvalidId();
    id = *g;
    ++i;
  }
  std::optional<std::string> description, type;
  for (; i < args.size(); ++i) {
    const std::string opt = Lower(args[i]);
    if (opt == "/d" && i + 1 < args.size()) {
      description = args[++i];
    } else if (opt == "/application" && i + 1 < args.size()) {
      type = Lower(args[++i]);
      if (*type != "bootsector" && *type != "osloader" && *type != "resume" && *type != "startup")
        return InvalidCommand();
    } else if (opt == "/device") {
      type = "device";
    } else {
      return InvalidCommand();
    }
  }
  if (!type) return InvalidCommand();
  if (!description && *type != "device")
    return Fail({"A description for the new entry must be specified.", kHelpLine, kParamIncorrect});
  if (id.empty()) id = NewGuid();
  if (Exists(store, id))
    return Fail({"An error occurred while attempting to create the specified entry.",
                 "Cannot create a file when that file already exists."});
  Json entry = {{"type", *type}, {"elements", Json::object()}};
  if (description) entry["elements"]["description"] = *description;
  Entries(store)[id] = entry;
  return Ok({"The entry " + id + " was successfully created."});
}

Outcome Delete(Json& store, const Lines& args) {
  if (args.size() < 2) return InvalidCommand();
  const auto id = ResolveId(store, args[1]);
  if (!id) return InvalidId();
  bool force = false, cleanup = true;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string opt = Lower(args[i]);
    if (opt == "/f") force = true;
    else if (opt == "/cleanup") cleanup = true;
    else if (opt == "/nocleanup") cleanup = false;
    else return InvalidCommand();
  }
  if (!Exists(store, *id))
    return Fail({"An error occurred while attempting to delete the specified entry.", kNotFound});
  const bool wellKnown = *id == kBootMgrId || (store.contains("current") && store["current"] == *id);
  if (wellKnown && !force)
    return Fail({"An error occurred while attempting to delete the specified entry.",
                 "The specified entry is a well-known entry; use /f to delete it."});
  Entries(store).erase(*id);
  if (store.contains("current") && store["current"] == *id) store.erase("current");
  if (cleanup) {
    for (auto& entry : Entries(store)) {
      if (!entry.contains("elements")) continue;
      Json& el = entry["elements"];
      for (const char* name : kListElements) {
        if (!el.contains(name)) continue;
        Json kept = Json::array();
        for (const auto& v : el[name])
          if (v != *id) kept.push_back(v);
        el[name] = kept;
      }
      if (el.contains("default") && el["default"] == *id) el.erase("default");
    }
  }
  return Ok();
}

Outcome Set(Json& store, const Lines& args) {
  if (args.size() < 4) return InvalidCommand();
  const auto id = ResolveId(store, args[1]);
  if (!id) return InvalidId();
  if (!Exists(store, *id)) return NoSuchEntry();
  const std::string name = Lower(args[2]);
  if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
    return InvalidCommand();
  Json& elements = Entries(store)[*id]["elements"];
  if (IsListElement(name)) {
    Json list = Json::array();
    for (size_t i = 3; i < args.size(); ++i) {
      const auto ref = ResolveId(store, args[i]);
      if (!ref) return InvalidId();
      list.push_back(*ref);
    }
    elements[name] = list;
    return Ok();
  }
  std::string value = args[3];
  for (size_t i = 4; i < args.size(); ++i) value += " " + args[i];
  if (name == "device" || name == "osdevice") {
    const auto dev = NormaliseDevice(value);
    if (!dev) return BadElement();
    value = *dev;
  } else if (name == "timeout") {
    long long n = 0;
    if (!ParseCount(value, n)) return BadInteger();
    value = std::to_string(n);
  } else if (IsIdElement(name)) {
    const auto ref = ResolveId(store, value);
    if (!ref) return InvalidId();
    value = *ref;
  }
  elements[name] = value;
  return Ok();
}

Outcome DeleteValue(Json& store, const Lines& args) {
  if (args.size() != 3) return InvalidCommand();
  const auto id = ResolveId(store, args[1]);
  if (!id) return InvalidId();
  if (!Exists(store, *id)) return NoSuchEntry();
  Json& elements = Entries(store)[*id]["elements"];
  const std::string name = Lower(args[2]);
  if (!elements.contains(name))
    return Fail({"An error occurred while attempting to delete the element data.", "Element not found."});
  elements.erase(name);
  return Ok();
}

Outcome DisplayOrder(Json& store, const Lines& args) {
  if (!Exists(store, kBootMgrId)) return NoSuchEntry();
  std::vector<std::string> ids;
  std::string mode;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string a = Lower(args[i]);
    if (a == "/addfirst" || a == "/addlast" || a == "/remove") {
      if (!mode.empty() || i + 1 != args.size()) return InvalidCommand();
      mode = a;
      continue;
    }
    const auto id = ResolveId(store, args[i]);
    if (!id) return InvalidId();
    if (mode != "/remove" && !Exists(store, *id)) return NoSuchEntry();
    ids.push_back(*id);
  }
  if (ids.empty()) return InvalidCommand();
  Json& bm = BootMgr(store);
  std::vector<std::string> order;
  if (bm.contains("displayorder"))
    for (const auto& v : bm["displayorder"]) order.push_back(v.get<std::string>());
  auto drop = [&order](const std::string& id) { order.erase(std::remove(order.begin(), order.end(), id), order.end()); };
  if (mode.empty()) {
    order.clear();
    for (const auto& id : ids) {
      drop(id);
      order.push_back(id);
    }
  } else if (mode == "/addlast") {
    for (const auto& id : ids) {
      drop(id);
      order.push_back(id);
    }
  } else if (mode == "/addfirst") {
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
      drop(*it);
      order.insert(order.begin(), *it);
    }
  } else {
    for (const auto& id : ids) drop(id);
  }
  bm["displayorder"] = order;
  return Ok();
}

Outcome Default(Json& store, const Lines& args) {
  if (args.size() != 2) return InvalidCommand();
  const auto id = ResolveId(store, args[1]);
  if (!id) return InvalidId();
  if (!Exists(store, *id) || !Exists(store, kBootMgrId) || *id == kBootMgrId) return NoSuchEntry();
  BootMgr(store)["default"] = *id;
  return Ok();
}

Outcome Timeout(Json& store, const Lines& args) {
  if (args.size() != 2) return InvalidCommand();
  long long n = 0;
  if (!ParseCount(args[1], n)) return BadInteger();
  if (!Exists(store, kBootMgrId)) return NoSuchEntry();
  BootMgr(store)["timeout"] = std::to_string(n);
  return Ok();
}

Outcome Help() {
  return Ok({"BCDEDIT - Boot Configuration Data Store Editor (stand-in)", "",
             "  /enum [active|all|<type>|<id>] [/v]", "  /create [<id>] /d <description> /application <type>",
             "  /delete <id> [/f] [/cleanup|/nocleanup]", "  /set <id> <element> <value>",
             "  /deletevalue <id> <element>", "  /displayorder <id>... [/addfirst|/addlast|/remove]",
             "  /default <id>", "  /timeout <seconds>", "  /store <file> selects the store file",
             "  /standin-init bios|uefi|none, /standin-dump   (test helpers)"});
}

}  // namespace

std::optional<std::string> CanonicalGuid(const std::string& text) {
  static const int kGroups[] = {8, 4, 4, 4, 12};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  size_t pos = 1;
  for (int g = 0; g < 5; ++g) {
    for (int k = 0; k < kGroups[g]; ++k, ++pos)
      if (!std::isxdigit(static_cast<unsigned char>(text[pos]))) return std::nullopt;
    if (g < 4 && text[pos++] != '-') return std::nullopt;
  }
  return Lower(text);
}

Json MakeDefaultStore(const std::string& firmware, const std::string& systemDrive) {
  const bool uefi = Lower(firmware) == "uefi";
  const std::string partition = "partition=" + systemDrive;
  Json bootmgr = Json::object();
  bootmgr["device"] = uefi ? std::string("partition=\\Device\\HarddiskVolume1") : partition;
  if (uefi) bootmgr["path"] = "\\EFI\\Microsoft\\Boot\\bootmgfw.efi";
  bootmgr["description"] = "Windows Boot Manager";
  bootmgr["locale"] = "en-US";
  bootmgr["inherit"] = "{globalsettings}";
  bootmgr["default"] = kDefaultLoaderId;
  bootmgr["displayorder"] = Json::array({kDefaultLoaderId});
  bootmgr["toolsdisplayorder"] = Json::array({"{memdiag}"});
  bootmgr["timeout"] = "30";

  Json loader = Json::object();
  loader["device"] = partition;
  loader["path"] = uefi ? "\\Windows\\system32\\winload.efi" : "\\Windows\\system32\\winload.exe";
  loader["description"] = "Windows 7";
  loader["locale"] = "en-US";
  loader["inherit"] = "{bootloadersettings}";
  loader["osdevice"] = partition;
  loader["systemroot"] = "\\Windows";
  loader["nx"] = "OptIn";

  Json store = Json::object();
  store["firmware"] = uefi ? "uefi" : "bios";
  store["current"] = kDefaultLoaderId;
  store["entries"] = Json::object();
  store["entries"][kBootMgrId] = {{"type", "bootmgr"}, {"elements", bootmgr}};
  store["entries"][kDefaultLoaderId] = {{"type", "osloader"}, {"elements", loader}};
  return store;
}

Outcome RunCommand(Json& store, const std::vector<std::string>& argsIn) {
  bool verbose = false;
  Lines args;
  for (const auto& a : argsIn) {
    if (Lower(a) == "/v") verbose = true;
    else args.push_back(a);
  }
  if (!store.contains("entries") || !store["entries"].is_object()) store["entries"] = Json::object();
  if (args.empty()) return Enum(store, {"/enum"}, verbose);
  const std::string cmd = Lower(args[0]);
  Json work = store;  // applied only when the command succeeds
  Outcome out;
  if (cmd == "/enum") out = Enum(work, args, verbose);
  else if (cmd == "/create") out = Create(work, args);
  else if (cmd == "/delete") out = Delete(work, args);
  else if (cmd == "/set") out = Set(work, args);
  else if (cmd == "/deletevalue") out = DeleteValue(work, args);
  else if (cmd == "/displayorder") out = DisplayOrder(work, args);
  else if (cmd == "/default") out = Default(work, args);
  else if (cmd == "/timeout") out = Timeout(work, args);
  else if (cmd == "/?") out = Help();
  else out = InvalidCommand();
  if (out.ok) store = std::move(work);
  return out;
}

}  // namespace bcdstandin

namespace bcdstandin {

std::string ChineseText(const std::string& line) {
  static const std::pair<const char*, const char*> kTexts[] = {
      {"The operation completed successfully.", "操作成功完成。"},
      {"The parameter is incorrect.", "参数错误。"},
      {"The system cannot find the file specified.", "系统找不到指定的文件。"},
      {"Run \"bcdedit /?\" for command line assistance.", "运行 \"bcdedit /?\" 获得命令行帮助。"},
      {"The boot configuration data store could not be opened.", "无法打开启动配置数据存储。"},
      {"The command specified is not valid.", "指定的命令无效。"},
      {"The specified entry identifier is not valid.", "指定的项标识符无效。"},
      {"An error occurred while attempting to reference the specified entry.", "尝试引用指定项时出错。"},
      {"The integer data is not valid as specified.", "指定的整数数据无效。"},
      {"An error has occurred setting the element data.", "设置元素数据时出错。"},
      {"There are no matching objects or the store is empty.", "没有匹配的对象或存储为空。"},
      {"An error occurred while attempting to create the specified entry.", "尝试创建指定项时出错。"},
      {"Cannot create a file when that file already exists.", "当文件已存在时，无法创建该文件。"},
      {"An error occurred while attempting to delete the specified entry.", "尝试删除指定项时出错。"},
      {"The specified entry is a well-known entry; use /f to delete it.", "指定项是已知项，请使用 /f 删除它。"},
      {"An error occurred while attempting to delete the element data.", "尝试删除元素数据时出错。"},
      {"Element not found.", "找不到元素。"},
      {"A description for the new entry must be specified.", "必须为新项指定说明。"},
  };
  for (const auto& [en, zh] : kTexts)
    if (line == en) return zh;
  // "The entry {guid} was successfully created."
  const std::string head = "The entry ", tail = " was successfully created.";
  if (line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
      line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
    return "已将项 " + line.substr(head.size(), line.size() - head.size() - tail.size()) + " 成功创建。";
  return line;
}

}  // namespace bcdstandin
