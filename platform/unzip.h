// Extraction of a ZIP archive (common/zip.h) onto the disk through the seam.
#pragma once
#include <string>
#include <string_view>

namespace plat {
class Holds;
}

namespace corvane {

// Extracts every entry of the archive file into destDir (a Windows path),
// creating folders as needed and overwriting files of the same name.
// Raises Exception on any failure.
void ExtractZipFile(const std::string& zipPath, const std::string& destDir);
void ExtractZipData(std::string_view archive, const std::string& destDir);
// The same into a folder that `holds` holds already: every folder and file
// made is held in turn, each file once its content is read back equal to
// the archive's (so that nothing written can be swapped before it is used).
void ExtractZipDataHeld(std::string_view archive, const std::string& destDir, plat::Holds& holds);

}  // namespace corvane
