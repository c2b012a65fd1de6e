// A table of faults, each met by a whole import run on real files: memory that runs out at every
// point from a program that cannot even start to one that finishes, a file size limit, FIFOs and
// a device in place of a database, a target replaced or changed by another program just before
// the swap, a stale lock file (and one this user may not remove), an exception inside the
// commit's index rebuild and while the new file is written, a folder sync that fails after the
// new file took the target's name, a bind-mounted, append-only, immutable target and a read-only
// mount. Every run ends with the program's own message and an exit status of the README, never
// by a signal or a hang; the target is byte for byte the old file or the complete import, the
// message says which, and no lock file or scratch file is left beside it.
//
// The runs that need no hook run the program itself (import-run, exactly as the window runs the
// import) in a child process with its limits; the others run the import in this process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "import/import_run.h"
#include "jet/database/database.h"
#include "jet/file/file_commit.h"
#include "jet/file/file_system.h"
#include "jet/file/rollback_journal.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"
#include "tests/fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::kFixtures;

const std::string kImportRun = std::string(PI_BINARY_DIR) + "/bench/import-run";
const std::string kSource = kFixtures + "/source.mdb";
const std::string kLargeSource = kFixtures + "/source-large.mdb";

constexpr char kCompletedMessage[] =
    "Der Produktedaten Import ist abgeschlossen. Das Programm wird nun beendet.";
constexpr char kValidationMessage[] =
    "Es ist ein Fehler aufgetreten. Die Daten können von dieser Datenbank nicht eingelesen "
    "werden. Das Programm wird jetzt beendet.";
constexpr char kUnexpectedStart[] = "Es ist ein unerwarteter Fehler aufgetreten (Fehler ";
constexpr char kSaysUnchanged[] =
    "). Die Zieldatenbank wurde nicht verändert. Das Programm wird jetzt beendet.";
constexpr char kSaysCompleted[] =
    "). Der Import wurde dennoch vollständig in die Zieldatenbank übernommen. Das Programm wird "
    "jetzt beendet.";
// What the dynamic loader says when the program cannot even be loaded.
constexpr char kCannotLoad[] = "error while loading shared libraries";

constexpr uid_t kOtherUser = 65534;  // nobody
constexpr gid_t kOtherGroup = 65534;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The target folder, holding a copy of the sample target as DBZentavo.mdb, and the settings that
// name it (in a folder of their own, so that the target folder holds only what a run leaves).
class Site {
 public:
  Site() {
    fs::permissions(dir_.path(), fs::perms::all);  // other users may enter it (see kOtherUser)
    fs::copy_file(testing_support::Fixture("target.mdb"), target());
    std::ofstream(config_.path() / "ZentavoSettings.ini") << "[DB]\nRoot=" << folder() << "\n";
  }
  std::string folder() const { return dir_.path().string() + "/"; }
  fs::path target() const { return dir_.path() / "DBZentavo.mdb"; }
  fs::path lock() const { return dir_.path() / "DBZentavo.ldb"; }
  std::string config() const { return config_.path().string(); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.insert(e.path().filename());
    return names;
  }

 private:
  testing_support::ScratchDir dir_{"run-fault"};
  testing_support::ScratchDir config_{"run-fault-settings"};
};

// How a run ended.
struct Outcome {
  int status = -1;  // the exit status; -1 when it did not exit
  int signal = 0;   // the signal that ended it
  bool hung = false;
  std::vector<std::string> messages;  // the prompts of its message boxes
  std::string output;                 // everything it printed
};

// Runs import-run on `source` against the site, in a child process to which `limit` applies.
// A run that takes longer than a minute is killed and counts as hung.
Outcome RunProgram(const Site& site, const std::string& source,
                   const std::function<void()>& limit = {}) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  const std::string config = site.config();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    if (limit) limit();
    ::execl(kImportRun.c_str(), kImportRun.c_str(), source.c_str(), nullptr);
    ::_exit(126);
  }
  ::close(pipe_fds[1]);
  Outcome out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      out.hung = true;
      ::kill(child, SIGKILL);
      break;
    }
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    out.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status)) out.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) out.signal = WTERMSIG(status);
  for (const std::string& line : testing_support::SplitLines(out.output)) {
    const std::size_t at = line.find("]: ");
    if (line.rfind("Meldung [", 0) == 0 && at != std::string::npos) {
      out.messages.push_back(line.substr(at + 3));
    }
  }
  return out;
}

// The same run in this process, for the faults that need a hook of the engine.
Outcome RunHere(const Site& site, const std::string& source = kSource,
                const jet::TestOptions& test = {}) {
  run::RecordingUserSide user;
  run::DatabaseState state;
  state.strDBRoot = site.folder();
  state.target_test = test;
  run::RunContext run{state, source, user};
  Outcome out;
  try {
    import::cmdImport_Click(run);
    ADD_FAILURE() << "the run returned instead of ending the program";
  } catch (const run::ProgramEnd& end) {
    out.status = end.status();
  }
  for (const auto& m : user.messages()) out.messages.push_back(m.prompt);
  return out;
}

// The sample target as it is, and as the complete import of `source` leaves it.
const std::vector<std::uint8_t>& OldTarget() {
  static const auto bytes = testing_support::ReadFileBytes(testing_support::Fixture("target.mdb"));
  return bytes;
}
const std::vector<std::uint8_t>& ImportedTarget(const std::string& source = kSource) {
  static std::map<std::string, std::vector<std::uint8_t>> imported;
  auto& bytes = imported[source];
  if (bytes.empty()) {
    Site site;
    const Outcome out = RunHere(site, source);
    EXPECT_EQ(out.status, run::kExitCompleted);
    bytes = testing_support::ReadFileBytes(site.target());
  }
  return bytes;
}

// What a run left of the target, as its message must say.
enum class Left { kNotStarted, kOld, kImport };

// Checks one run against the truth: it ended with its own message and a status of the README;
// the target is the old file or the complete import, and the message says which; nothing but
// the target is left in its folder (`also_left`: files that were there before the run).
// Returns what the target holds.
Left ExpectTruthful(const Outcome& out, const Site& site, const std::string& source = kSource,
                    const std::set<std::string>& also_left = {}) {
  EXPECT_FALSE(out.hung) << "the run hung";
  EXPECT_EQ(out.signal, 0) << "ended by signal " << out.signal << ":\n" << out.output;
  std::set<std::string> names = also_left;
  names.insert("DBZentavo.mdb");
  const auto now = testing_support::ReadFileBytes(site.target());
  const bool old = now == OldTarget();
  // A run that stored the import keeps the old file as its backup; one that did not keeps none.
  std::set<std::string> found = site.Names();
  if (!old) {
    std::erase_if(found, [](const std::string& name) {
      return name.starts_with("DBZentavo vor Import ") && name.ends_with(".mdb");
    });
  }
  EXPECT_EQ(found, names) << "left beside the target";
  if (out.status == 127 && out.output.find(kCannotLoad) != std::string::npos) {
    EXPECT_TRUE(old);
    return Left::kNotStarted;
  }
  EXPECT_EQ(out.messages.size(), 1u) << out.output;
  const std::string message = out.messages.empty() ? "" : out.messages.back();
  switch (out.status) {
    case run::kExitCompleted:
      EXPECT_EQ(message, kCompletedMessage);
      EXPECT_TRUE(now == ImportedTarget(source)) << "told complete, but the import is not there";
      return Left::kImport;
    case run::kExitInvalidSource:
      EXPECT_EQ(message, kValidationMessage);
      EXPECT_TRUE(old) << "the validation changed the target";
      return Left::kOld;
    case run::kExitUnexpectedError:
      EXPECT_EQ(message.rfind(kUnexpectedStart, 0), 0u) << message;
      if (EndsWith(message, kSaysCompleted)) {
        EXPECT_TRUE(now == ImportedTarget(source)) << "told complete, but: " << message;
        return Left::kImport;
      }
      EXPECT_TRUE(EndsWith(message, kSaysUnchanged)) << message;
      EXPECT_TRUE(old) << "told unchanged, but changed: " << message;
      return Left::kOld;
    default:
      ADD_FAILURE() << "exit status " << out.status << " is none of the README's:\n" << out.output;
      return Left::kOld;
  }
}

// The error number the run's message reports, or 0.
int ErrorNumber(const Outcome& out) {
  if (out.messages.empty() || out.messages.back().rfind(kUnexpectedStart, 0) != 0) return 0;
  return std::atoi(out.messages.back().c_str() + std::strlen(kUnexpectedStart));
}

bool Mentions(const Outcome& out, const std::string& text) {
  return !out.messages.empty() && out.messages.back().find(text) != std::string::npos;
}

// AddressSanitizer reserves terabytes of address space at start: a limit of it stops every run.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Limits the child's address space to `bytes`.
std::function<void()> AddressSpace(rlim_t bytes) {
  return [bytes] {
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
  };
}

// From a limit at which the program cannot be loaded up to one at which it finishes, in steps:
// every run ends truthfully, some with Jet's 3035, and the last completes.
TEST(RunFaults, MemoryLimitsFromCannotStartToEnough) {
  if (kAddressSanitizer) GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
  constexpr rlim_t kMB = rlim_t{1024} * 1024;
  int not_started = 0;
  int out_of_memory = 0;
  int runs = 0;
  bool completed = false;
  for (rlim_t limit = 4 * kMB; limit <= 48 * kMB && !completed; limit += kMB / 2) {
    SCOPED_TRACE("address space " + std::to_string(limit / 1024) + " KB");
    Site site;
    const Outcome out = RunProgram(site, kSource, AddressSpace(limit));
    ++runs;
    const Left left = ExpectTruthful(out, site);
    not_started += left == Left::kNotStarted;
    if (ErrorNumber(out) == 3035) ++out_of_memory;
    completed = left == Left::kImport && out.status == run::kExitCompleted;
  }
  EXPECT_GT(not_started, 0) << "the first limit should keep the program from starting";
  EXPECT_GT(out_of_memory, 0) << "no run ended with Jet's 3035";
  EXPECT_TRUE(completed) << "no limit was enough";
  std::cout << runs << " runs: " << not_started << " could not start, " << out_of_memory
            << " ended with 3035\n";
}

// The large source at a few limits, where the commit spills pages and rebuilds indexes on two
// threads.
TEST(RunFaults, MemoryLimitsOnTheLargeSource) {
  if (kAddressSanitizer) GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
  constexpr rlim_t kMB = rlim_t{1024} * 1024;
  for (rlim_t limit : {64 * kMB, 96 * kMB, 128 * kMB, 160 * kMB, 192 * kMB, 256 * kMB}) {
    SCOPED_TRACE("address space " + std::to_string(limit / kMB) + " MB");
    Site site;
    const Outcome out = RunProgram(site, kLargeSource, AddressSpace(limit));
    const Left left = ExpectTruthful(out, site, kLargeSource);
    if (left == Left::kOld) {
      EXPECT_EQ(ErrorNumber(out), 3035) << out.output;
    }
  }
}

// A file size limit below the new file ends as a full disk does (3026), not by SIGXFSZ; one that
// the new file fits in lets the run finish.
TEST(RunFaults, AFileSizeLimitIsAFullDisk) {
  const rlim_t imported = ImportedTarget().size();
  for (const rlim_t limit : {rlim_t{4096}, rlim_t{OldTarget().size()}, imported}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    Site site;
    const Outcome out = RunProgram(site, kSource, [limit] {
      const rlimit l{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &l);
    });
    const Left left = ExpectTruthful(out, site);
    if (limit < imported) {
      EXPECT_EQ(left, Left::kOld);
      EXPECT_EQ(ErrorNumber(out), 3026) << out.output;
    } else {
      EXPECT_EQ(out.status, run::kExitCompleted) << out.output;
    }
  }
}

// A FIFO or a device in place of the source or the target is refused at once, without waiting
// for a writer, with a message that names it; a FIFO target stays a FIFO.
TEST(RunFaults, FifosAndDevicesAreRefusedAtOnce) {
  testing_support::ScratchDir elsewhere("run-fault-fifo");
  const std::string fifo = (elsewhere.path() / "Kastrel.mdb").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& source : {fifo, std::string("/dev/null")}) {
    SCOPED_TRACE("source " + source);
    Site site;
    const Outcome out = RunProgram(site, source);
    EXPECT_EQ(ExpectTruthful(out, site), Left::kOld);
    EXPECT_EQ(ErrorNumber(out), 3044) << out.output;
    EXPECT_TRUE(Mentions(out, "'" + source + "' ist keine Datenbankdatei")) << out.output;
  }
  {
    SCOPED_TRACE("target FIFO");
    Site site;
    fs::remove(site.target());
    ASSERT_EQ(::mkfifo(site.target().c_str(), 0600), 0);
    const Outcome out = RunProgram(site, kSource);
    EXPECT_FALSE(out.hung);
    EXPECT_EQ(out.status, run::kExitUnexpectedError) << out.output;
    EXPECT_EQ(ErrorNumber(out), 3044) << out.output;
    EXPECT_TRUE(Mentions(out, "benannte Pipe")) << out.output;
    EXPECT_TRUE(Mentions(out, kSaysUnchanged)) << out.output;
    EXPECT_TRUE(fs::is_fifo(site.target()));
    EXPECT_EQ(site.Names(), std::set<std::string>{"DBZentavo.mdb"});
  }
}

// Another program replaces the target, or writes into it, at the last moment before the swap:
// the run stops with a message that says so, and what the other program left stays untouched.
TEST(RunFaults, ATargetReplacedBeforeTheSwapIsLeftAlone) {
  struct Case {
    const char* name;
    bool replace;  // a new file under the name; otherwise bytes appended to the same file
    const char* says;
  };
  for (const Case& c : {Case{"replaced", true, "durch eine andere Datei ersetzt"},
                        Case{"written into", false, "von einem anderen Programm geändert"}}) {
    SCOPED_TRACE(c.name);
    Site site;
    std::vector<std::uint8_t> theirs = OldTarget();
    theirs.resize(theirs.size() + 4096, 0x5A);
    jet::TestOptions test;
    test.before_swap = [&] {
      if (c.replace) {
        const fs::path other = site.target().string() + ".restored";
        testing_support::WriteFileBytes(other, theirs);
        fs::rename(other, site.target());
      } else {
        std::ofstream(site.target(), std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(theirs.data() + OldTarget().size()), 4096);
      }
    };
    const Outcome out = RunHere(site, kSource, test);
    EXPECT_EQ(out.status, run::kExitUnexpectedError);
    EXPECT_EQ(ErrorNumber(out), 3045);
    EXPECT_TRUE(Mentions(out, c.says)) << (out.messages.empty() ? "" : out.messages.back());
    EXPECT_TRUE(Mentions(out, kSaysUnchanged));
    EXPECT_TRUE(testing_support::ReadFileBytes(site.target()) == theirs);
    EXPECT_EQ(site.Names(), std::set<std::string>{"DBZentavo.mdb"});
  }
}

// A lock file no process holds, left by a killed run, is taken over and removed at the end.
TEST(RunFaults, AStaleLockFileIsTakenOverAndRemoved) {
  for (const fs::perms mode : {fs::perms::owner_read | fs::perms::owner_write,
                               fs::perms::owner_read}) {  // also one we may not write
    Site site;
    std::ofstream(site.lock()) << "alter Eintrag";
    fs::permissions(site.lock(), mode);
    const Outcome out = RunProgram(site, kSource);
    EXPECT_EQ(ExpectTruthful(out, site), Left::kImport) << out.output;
  }
}

// Runs `work` in a child process as another, unprivileged user: its exit status, -1 when it
// did not exit. Only for root.
int RunAsOtherUser(const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0) {
      ::_exit(100);
    }
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A stale lock file that this user may not remove (another user's, in a folder where only the
// owner may delete) is refused before anything changes, with a message that says exactly that.
TEST(RunFaults, AStaleLockFileWeMayNotRemoveIsNamed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to leave the lock file to another user";
  Site site;
  fs::permissions(site.target().parent_path(), fs::perms::all | fs::perms::sticky_bit);
  ASSERT_EQ(::chown(site.target().c_str(), kOtherUser, kOtherGroup), 0);
  std::ofstream(site.lock()) << "alter Eintrag";
  fs::permissions(site.lock(), fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
  const int status = RunAsOtherUser([&] {
    const Outcome out = RunHere(site);
    const bool told = ErrorNumber(out) == 3050 &&
                      Mentions(out, "darf von diesem Benutzer aber nicht entfernt werden") &&
                      Mentions(out, kSaysUnchanged);
    return out.status == run::kExitUnexpectedError && told ? 0 : 1;
  });
  if (status == 100) GTEST_SKIP() << "cannot become user " << kOtherUser;
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(testing_support::ReadFileBytes(site.target()) == OldTarget());
  EXPECT_EQ(site.Names(), (std::set<std::string>{"DBZentavo.mdb", "DBZentavo.ldb"}));
}

// The real file system, except that every write throws (as an allocation deep inside may).
class ThrowingWrites : public jet::FileSystem {
 public:
  ssize_t Write(int, const void*, std::size_t) override { throw std::bad_alloc(); }
};

// The real file system on a share that cannot swap two files and whose folder sync fails: the
// new file has taken the name for good when the failure comes.
class NoSwapNoFolderSync : public jet::FileSystem {
 public:
  int Rename(const std::string& from, const std::string& to, bool exchange) override {
    if (exchange) {
      errno = EINVAL;
      return -1;
    }
    return FileSystem::Rename(from, to, exchange);
  }
  int SyncFolder(const std::string&) override {
    errno = EIO;
    return -1;
  }
};

// Exceptions inside the commit (its index rebuild, the writing of the new file) end the run with
// Jet's error, never store the import afterwards, and leave nothing behind; a later run
// succeeds. A folder sync that fails after a plain rename is told as what it is: complete.
TEST(RunFaults, ExceptionsInsideTheCommit) {
  struct Case {
    const char* name;
    std::function<void()> hook;  // into the index rebuild
    int number;                  // the error the message must report
    bool throwing_writes = false;
    bool no_swap_no_sync = false;
    Left left = Left::kOld;
  };
  const Case cases[] = {
      {"out of memory in the index rebuild", [] { throw std::bad_alloc(); }, 3035},
      {"another exception in the index rebuild", [] { throw std::runtime_error("kaputt"); }, 51},
      {"out of memory while writing the new file", {}, 3035, true},
      {"folder sync fails after a plain rename", {}, 3043, false, true, Left::kImport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Site site;
    Outcome out;
    {
      ThrowingWrites throwing;
      NoSwapNoFolderSync no_swap;
      std::optional<jet::ScopedFileSystem> files;
      if (c.throwing_writes) files.emplace(throwing);
      if (c.no_swap_no_sync) files.emplace(no_swap);
      out = RunHere(site, kSource, {.before_index_rebuild = c.hook});
    }
    EXPECT_EQ(ExpectTruthful(out, site), c.left);
    EXPECT_EQ(out.status, run::kExitUnexpectedError);
    EXPECT_EQ(ErrorNumber(out), c.number) << (out.messages.empty() ? "" : out.messages.back());
    if (c.left == Left::kOld) {
      const Outcome again = RunHere(site);
      EXPECT_EQ(ExpectTruthful(again, site), Left::kImport);
    }
  }
}

// Sets the attribute flags (chattr) of a file while it lives, where the file system and the
// process may; clears them again.
class ScopedFlags {
 public:
  ScopedFlags(const fs::path& path, int flags) : path_(path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    set_ = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
  }
  ~ScopedFlags() {
    if (!set_) return;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    int none = 0;
    if (fd >= 0) (void)::ioctl(fd, FS_IOC_SETFLAGS, &none);
    if (fd >= 0) ::close(fd);
  }
  bool set() const { return set_; }

 private:
  fs::path path_;
  bool set_ = false;
};

// An append-only or immutable target and a target on a read-only mount are refused before the
// first change, with Jet's 3027 and a message that says why; a target mounted onto its name (bind
// mount), which no new file can replace, is written in place.
TEST(RunFaults, TargetsThatCannotBeWrittenAreRefusedFirst) {
  std::vector<std::string> skipped;
  for (const auto& [flag, says] :
       {std::pair{FS_APPEND_FL, "chattr +a"}, std::pair{FS_IMMUTABLE_FL, "chattr +i"}}) {
    SCOPED_TRACE(says);
    Site site;
    ScopedFlags flags(site.target(), flag);
    if (!flags.set()) {
      skipped.push_back(std::string(says) + " (not supported here)");
      continue;
    }
    const Outcome out = RunHere(site);
    EXPECT_EQ(ExpectTruthful(out, site), Left::kOld);
    EXPECT_EQ(ErrorNumber(out), 3027);
    EXPECT_TRUE(Mentions(out, says)) << (out.messages.empty() ? "" : out.messages.back());
  }
  {
    SCOPED_TRACE("bind mount");
    Site site;
    testing_support::ScratchDir elsewhere("run-fault-bind");
    const fs::path mounted = elsewhere.path() / "DBZentavo.mdb";
    fs::copy_file(site.target(), mounted);
    if (::mount(mounted.c_str(), site.target().c_str(), nullptr, MS_BIND, nullptr) != 0) {
      skipped.push_back("bind mount (" + std::string(std::strerror(errno)) + ")");
    } else {
      // Written in place: the mounted file holds the import, the name below it is untouched.
      const Outcome out = RunHere(site);
      EXPECT_EQ(ExpectTruthful(out, site), Left::kImport);
      ::umount2(site.target().c_str(), MNT_DETACH);
      EXPECT_TRUE(testing_support::ReadFileBytes(mounted) == ImportedTarget());
      EXPECT_TRUE(testing_support::ReadFileBytes(site.target()) == OldTarget());
    }
  }
  {
    SCOPED_TRACE("read-only mount");
    Site site;
    const std::string folder = site.target().parent_path().string();
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      skipped.push_back("read-only mount (" + std::string(std::strerror(errno)) + ")");
    } else {
      if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
          0) {
        const Outcome out = RunHere(site);
        EXPECT_EQ(ExpectTruthful(out, site), Left::kOld);
        EXPECT_EQ(ErrorNumber(out), 3027);
        EXPECT_TRUE(Mentions(out, "schreibgeschützten Dateisystem"))
            << (out.messages.empty() ? "" : out.messages.back());
      } else {
        skipped.push_back("read-only remount (" + std::string(std::strerror(errno)) + ")");
      }
      ::umount2(folder.c_str(), MNT_DETACH);
    }
  }
  if (!skipped.empty()) {
    std::string list;
    for (const std::string& s : skipped) list += (list.empty() ? "" : ", ") + s;
    GTEST_SKIP() << "not checked on this system: " << list;
  }
}

// A run killed while it wrote into a target with a second name leaves a journal; the next run
// rolls the target back before anything else, tells the user so, and then imports.
TEST(RunFaults, AnInterruptedInPlaceCommitIsRolledBackAndToldAtTheNextRun) {
  Site site;
  const fs::path second = fs::path(site.folder()) / "Zweitname.mdb";
  fs::create_hard_link(site.target(), second);
  const pid_t child = ::fork();
  if (child == 0) {
    (void)RunHere(site, kSource, {.after_in_place_step = [](jet::InPlaceStep step) {
                    if (step == jet::InPlaceStep::kPagesSynced) ::raise(SIGKILL);
                  }});
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  ASSERT_TRUE(fs::exists(jet::JournalPath(site.target().string())));
  ASSERT_FALSE(testing_support::ReadFileBytes(site.target()) == OldTarget());

  const Outcome out = RunHere(site);
  EXPECT_EQ(out.status, run::kExitCompleted);
  ASSERT_EQ(out.messages.size(), 2u) << (out.messages.empty() ? "" : out.messages[0]);
  EXPECT_NE(out.messages[0].find("beim letzten Speichern unterbrochen"), std::string::npos)
      << out.messages[0];
  EXPECT_EQ(out.messages[1], kCompletedMessage);
  EXPECT_TRUE(testing_support::ReadFileBytes(site.target()) == ImportedTarget());
  EXPECT_TRUE(testing_support::ReadFileBytes(second) == ImportedTarget());
  // Each run took its backup, a copy of the old file, before it began to write into the target.
  std::set<std::string> names = site.Names();
  int backups = 0;
  std::erase_if(names, [&](const std::string& name) {
    if (!name.starts_with("DBZentavo vor Import ")) return false;
    EXPECT_TRUE(testing_support::ReadFileBytes(fs::path(site.folder()) / name) == OldTarget())
        << name;
    ++backups;
    return true;
  });
  EXPECT_EQ(backups, 2);
  EXPECT_EQ(names, (std::set<std::string>{"DBZentavo.mdb", "Zweitname.mdb"}));
}

}  // namespace
