// Wine prefixes: where a user's Windows programs keep their registry and their drives, and how a
// Windows path names a file of this system through a prefix.
//
// A prefix is a folder holding user.reg (the per-user registry), drive_c and dosdevices/, whose
// entries `c:`, `z:`, ... are symbolic links to the folders the drives stand for (`c:` ->
// `../drive_c`, `z:` -> `/`), and `unc/<server>/<share>` for network shares, when set up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// The prefixes to look in, in this order, each once: the one $WINEPREFIX names (when set to an
// absolute path; Wine refuses others), then ~/.wine. They need not exist.
std::vector<std::string> WinePrefixCandidates();

// Those of WinePrefixCandidates() that exist, as their drive_c folders (for the file dialog).
std::vector<std::string> WineDriveFolders();

// Why a Windows path names no file of this system.
enum class WinePathProblem {
  kNone,
  kNotAbsolute,    // no drive letter and no \\server\share
  kNoDrive,        // the drive letter has no link in dosdevices/
  kNoShare,        // \\server\share has no link in dosdevices/unc/
  kFolderMissing,  // a folder of the path does not exist
  kFileMissing,    // all folders exist, the last name does not
};

struct WinePath {
  WinePathProblem problem = WinePathProblem::kNone;
  // The file of this system (when problem is kNone); for kFileMissing the path the file would
  // have, with the last name spelled as given.
  std::string path;
  // For kNoDrive: "C:"; for kNoShare: "\\server\share"; for kFolderMissing: the Windows path up
  // to and including the folder that is missing.
  std::string where;
};

// Maps a Windows path (drive letter or \\server\share, backslashes or slashes, "\\?\" allowed)
// into `prefix` as Wine does: the drive through its dosdevices/ link, then each name without
// regard to letter case (an exact match first, else the first of the names that match, in byte
// order); "." is skipped and ".." goes up, never above the drive.
WinePath MapWindowsPath(const std::string& prefix, std::string_view windows_path);

}  // namespace db
