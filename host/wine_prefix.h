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

namespace host {

// What $WINEPREFIX says. Wine takes it only as an absolute path; a path that names no folder is
// refused here as well, so that a mistyped prefix never falls back to another one.
struct WinePrefixVariable {
  bool set = false;
  std::string path;   // without trailing slashes; when set and valid
  std::string fault;  // German, naming the value, when set but not usable; empty otherwise
};
WinePrefixVariable ReadWinePrefixVariable();

// The prefixes of this user, in the order they are searched, each once and only those that exist
// as folders: ~/.wine, then the prefixes the front ends keep (winetricks, Bottles, the Bottles
// Flatpak, PlayOnLinux, CrossOver, Lutris; see wine_prefix.cc for where each keeps them). Within
// one front end's folder in byte order of the names. $WINEPREFIX is not among them.
std::vector<std::string> UserWinePrefixes();

// The prefixes whose registry may name the target: the one $WINEPREFIX names when it is set and
// usable (then it alone, as in Wine), else UserWinePrefixes(). Empty when $WINEPREFIX is set but
// not usable.
std::vector<std::string> WinePrefixCandidates();

// The drive_c folders of $WINEPREFIX (when usable) and of UserWinePrefixes(), for the file dialog.
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
// into `prefix` as Wine does: the drive through its dosdevices/ link, resolved by the kernel
// (realpath: the prefix, dosdevices/ and the drive link may each be symbolic links, relative
// links count from the folder that really holds them), then each name without regard to letter
// case as jet::FoldCase folds it (the exact name when it exists, else the first entry of the
// folder that matches, in the order the folder lists them, as Wine takes it); "." is skipped and
// ".." goes up, never above the drive, as Windows reads the text. The path found is resolved by
// the kernel too: it is the file Wine opens.
WinePath MapWindowsPath(const std::string& prefix, std::string_view windows_path);

}  // namespace host
