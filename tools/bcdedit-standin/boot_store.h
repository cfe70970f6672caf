// The boot store of the bcdedit stand-in: boot manager, loaders and
// boot-sector entries with their elements, kept as a JSON file so that tests
// can read it directly.
//
//   {
//     "firmware": "bios" | "uefi",
//     "current": "{guid}",                 // the loader that started this system
//     "entries": {
//       "{9dea862c-5cdd-4e70-acc1-f32b344d4795}": {   // {bootmgr}
//         "type": "bootmgr",
//         "elements": {"device": "partition=C:", "default": "{guid}",
//                      "displayorder": ["{guid}", ...], "timeout": "30", ...}
//       },
//       "{guid}": {"type": "osloader" | "bootsector" | ..., "elements": {...}}
//     }
//   }
//
// Identifiers are stored in lower case with their braces; element values are
// texts, or arrays of identifiers for the list elements.
#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace bcdstandin {

using Json = nlohmann::ordered_json;

inline constexpr const char* kBootMgrId = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
inline constexpr const char* kDefaultLoaderId = "{5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}";

// A fresh store as Windows setup leaves it: a boot manager and the loader of
// the installed system on systemDrive, started through the BIOS path
// (winload.exe) or through UEFI (winload.efi).
Json MakeDefaultStore(const std::string& firmware, const std::string& systemDrive);

// The result of one command: the lines the real editor would print and
// whether it succeeded (exit code 0).
struct Outcome {
  bool ok = true;
  std::vector<std::string> lines;
};

// Runs one bcdedit command line (arguments after the program name, without
// /store) against the store. The store is changed only when ok is true.
Outcome RunCommand(Json& store, const std::vector<std::string>& args);

// The Chinese editor's wording of one of the editor's message lines (the
// line itself when it is none of them, such as the lines of /enum).
std::string ChineseText(const std::string& englishLine);

// Lower-cased "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" when text is one, in
// any letter case; nothing otherwise.
std::optional<std::string> CanonicalGuid(const std::string& text);

}  // namespace bcdstandin
