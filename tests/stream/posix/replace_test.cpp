// File replacement: the temporary file's name and exclusive creation, and what a
// replacement does to the file already there. Every test works in its own temporary folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>  // for a page without access, to fault on
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "runtime/text.h"
#include "stream/replace.h"
#include "stream/stream.h"
#include "support/unprivileged.h"
#include "../temp_dir.h"

using namespace stream_test;

namespace {

std::vector<std::string> Entries(const std::string& folder = ".") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Replaces the file with the text through a TFileReplacement; true when it committed.
bool Replace(const String& path, const std::string& text) {
  TFileReplacement replacement;
  if (!replacement.Begin(path)) return false;
  replacement.stream->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
  return replacement.Commit(static_cast<int64_t>(text.size()));
}

struct stat Stat(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info;
}

// The entries of the folder that look like temporary files.
std::vector<std::string> Temporaries(const std::string& folder = ".") {
  std::vector<std::string> found;
  for (const std::string& name : Entries(folder)) {
    if (name.find(".tmp-") != std::string::npos) found.push_back(name);
  }
  return found;
}

class ReplaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartStream(); }
  TScratchDir dir;
};

TEST_F(ReplaceTest, TemporaryFilesHaveUnpredictableNamesAndAreNeverOpenedThroughALink) {
  // Exclusive creation: a planted link (to a file, or dangling) or a planted file at the
  // name makes it fail, and what the link points at is not touched.
  WriteFileBytes("victim", "precious");
  ASSERT_EQ(symlink("victim", "planted"), 0);
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  WriteFileBytes("taken", "");
  for (const char* name : {"planted", "dangling", "taken"}) {
    errno = 0;
    EXPECT_EQ(CreateFileExclusively(TextFromUtf8(name)), nullptr) << name;
    EXPECT_EQ(errno, EEXIST) << name;
  }
  EXPECT_EQ(ReadFileBytes("victim"), "precious");
  EXPECT_FALSE(std::filesystem::exists("nowhere"));
  FILE* fresh = CreateFileExclusively(u"fresh");
  ASSERT_NE(fresh, nullptr);
  struct stat info {};
  ASSERT_EQ(fstat(fileno(fresh), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // nobody else reads it while it is written
  fclose(fresh);

  // Names: the target's name, a mark, random letters; no two alike, no process id in them.
  std::set<std::string> names;
  const std::string pid = std::to_string(getpid());
  for (int i = 0; i < 200; ++i) {
    const std::string name = TemporaryNameFor("Out.png", 255);
    EXPECT_EQ(name.rfind("Out.png.tmp-", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("Out.png.tmp-").size() + 10) << name;
    EXPECT_EQ(name.find(pid), std::string::npos) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);

  // The old attack: links planted at the names a process id and a counter would give.
  for (int n = 1; n <= 20; ++n) {
    ASSERT_EQ(symlink("victim", ("Out.png.tmp" + pid + "-" + std::to_string(n)).c_str()), 0);
  }
  ASSERT_TRUE(Replace(u"Out.png", "the new image"));
  EXPECT_EQ(ReadFileBytes("Out.png"), "the new image");
  EXPECT_EQ(ReadFileBytes("victim"), "precious");
  EXPECT_EQ(Entries().size(), 6u + 20u);  // victim, planted, dangling, taken, fresh, Out.png
}

TEST_F(ReplaceTest, ReplacingAFileKeepsItsLinksPermissionsAndLongNames) {
  {
    SCOPED_TRACE("a link is written through and stays a link");
    std::filesystem::create_directory("real");
    WriteFileBytes("real/sheet.png", "old");
    ASSERT_EQ(symlink("real/sheet.png", "link.png"), 0);
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"link.png"));
    // The new content is written beside the file the link names.
    EXPECT_EQ(Temporaries("real").size(), 1u);
    EXPECT_TRUE(Temporaries().empty());
    replacement.stream->WriteBytes("new", 3);
    ASSERT_TRUE(replacement.Commit(3));
    EXPECT_TRUE(S_ISLNK(Stat("link.png").st_mode));
    EXPECT_EQ(ReadFileBytes("real/sheet.png"), "new");
    EXPECT_TRUE(Temporaries("real").empty());
    // A link to a file not there yet makes it, as opening the link would.
    ASSERT_EQ(symlink("real/later.png", "later.png"), 0);
    ASSERT_TRUE(Replace(u"later.png", "made"));
    EXPECT_EQ(ReadFileBytes("real/later.png"), "made");
    EXPECT_TRUE(S_ISLNK(Stat("later.png").st_mode));
    // A loop of links is refused like an open would refuse it.
    ASSERT_EQ(symlink("loop-b", "loop-a"), 0);
    ASSERT_EQ(symlink("loop-a", "loop-b"), 0);
    EXPECT_FALSE(Replace(u"loop-a", "x"));
    EXPECT_EQ(errno, ELOOP);
  }
  {
    SCOPED_TRACE("permission bits stay; a new file gets what a plain create gives");
    WriteFileBytes("private.png", "old");
    ASSERT_EQ(chmod("private.png", 0600), 0);
    ASSERT_TRUE(Replace(u"private.png", "new"));
    EXPECT_EQ(Stat("private.png").st_mode & 07777, 0600u);
    WriteFileBytes("shared.png", "old");
    ASSERT_EQ(chmod("shared.png", 0664), 0);
    ASSERT_TRUE(Replace(u"shared.png", "new"));
    EXPECT_EQ(Stat("shared.png").st_mode & 07777, 0664u);
    const mode_t mask = umask(022);
    ASSERT_TRUE(Replace(u"fresh.png", "new"));
    umask(mask);
    EXPECT_EQ(Stat("fresh.png").st_mode & 07777, 0644u);
  }
  {
    SCOPED_TRACE("a hard-linked file is written in place: every name sees the new content");
    WriteFileBytes("a.png", "old content");
    ASSERT_EQ(link("a.png", "b.png"), 0);
    const ino_t inode = Stat("a.png").st_ino;
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"a.png"));
    EXPECT_EQ(replacement.mode, TFileReplacement::kCopyIn);
    replacement.stream->WriteBytes("new", 3);
    ASSERT_TRUE(replacement.Commit(3));
    EXPECT_EQ(ReadFileBytes("b.png"), "new");
    EXPECT_EQ(Stat("a.png").st_ino, inode);
    EXPECT_EQ(Stat("a.png").st_nlink, 2u);
    // An encoder that gives up before the end leaves both names as they were.
    ASSERT_TRUE(replacement.Begin(u"a.png"));
    replacement.stream->WriteBytes("partial", 7);
    replacement.Abandon();
    EXPECT_EQ(ReadFileBytes("b.png"), "new");
  }
  {
    SCOPED_TRACE("names as long as the file system allows");
    const std::string longest(255 - 4, 'n');
    ASSERT_TRUE(Replace(TextFromUtf8(longest + ".png"), "new"));
    EXPECT_EQ(ReadFileBytes(longest + ".png"), "new");
    ASSERT_TRUE(Replace(TextFromUtf8(longest + ".png"), "newer"));  // and over itself
    EXPECT_EQ(ReadFileBytes(longest + ".png"), "newer");
    // Two-byte characters: the temporary name is cut between characters.
    std::string accents;
    while (accents.size() + 2 <= 255 - 4) accents += "\xC3\xA9";
    ASSERT_TRUE(Replace(TextFromUtf8(accents + ".png"), "new"));
    EXPECT_EQ(ReadFileBytes(accents + ".png"), "new");
    EXPECT_TRUE(Temporaries().empty());
    const std::string temporary = TemporaryNameFor(accents + ".png", 255);
    EXPECT_LE(temporary.size(), 255u);
    EXPECT_EQ(TextToUtf8(TextFromUtf8(temporary)), temporary);  // still whole characters
  }
}

TEST_F(ReplaceTest, WherePermissionsForbidTheUserTheFileIsRefusedOrWrittenInPlace) {
  TUnprivileged user;
  if (!user.available) GTEST_SKIP() << "running as root with no 'nobody' user to test as";
  // The ordinary user owns two folders: one it may write, one it may not.
  ASSERT_EQ(chmod(".", 0711), 0);
  std::filesystem::create_directory("open");
  std::filesystem::create_directory("closed");
  WriteFileBytes("open/readonly.png", "keep me");
  WriteFileBytes("closed/writable.png", "old");
  for (const char* path : {"open", "closed", "open/readonly.png", "closed/writable.png"}) {
    ASSERT_EQ(chown(path, user.uid, user.gid), 0) << path;
  }
  ASSERT_EQ(chmod("open/readonly.png", 0444), 0);
  ASSERT_EQ(chmod("closed/writable.png", 0644), 0);
  ASSERT_EQ(symlink("../closed/writable.png", "open/link.png"), 0);
  ASSERT_EQ(lchown("open/link.png", user.uid, user.gid), 0);
  ASSERT_EQ(chmod("closed", 0555), 0);
  const ino_t inode = Stat("closed/writable.png").st_ino;

  const std::string failures = user.Run([](std::string& failures) {
    // A read-only file: refused as an open for writing would be, and left alone.
    errno = 0;
    UNPRIVILEGED_CHECK(failures, !Replace(u"open/readonly.png", "new"));
    UNPRIVILEGED_CHECK(failures, errno == EACCES);
    UNPRIVILEGED_CHECK(failures, ReadFileBytes("open/readonly.png") == "keep me");
    UNPRIVILEGED_CHECK(failures, Temporaries("open").empty());
    // A writable file in a folder the user may not write to: written in place.
    TFileReplacement replacement;
    UNPRIVILEGED_CHECK(failures, replacement.Begin(u"closed/writable.png"));
    UNPRIVILEGED_CHECK(failures, replacement.mode == TFileReplacement::kInPlace);
    if (replacement.stream) replacement.stream->WriteBytes("new", 3);
    UNPRIVILEGED_CHECK(failures, replacement.Commit(3));
    UNPRIVILEGED_CHECK(failures, ReadFileBytes("closed/writable.png") == "new");
    // Through a link from a folder the user may write: still in place, beside nothing.
    UNPRIVILEGED_CHECK(failures, Replace(u"open/link.png", "newer"));
    UNPRIVILEGED_CHECK(failures, ReadFileBytes("closed/writable.png") == "newer");
    // A new file in that folder cannot be made at all.
    errno = 0;
    UNPRIVILEGED_CHECK(failures, !Replace(u"closed/other.png", "x"));
    UNPRIVILEGED_CHECK(failures, errno == EACCES);
  });
  EXPECT_EQ(failures, "");
  EXPECT_EQ(Stat("closed/writable.png").st_ino, inode);
  EXPECT_EQ(Stat("closed/writable.png").st_mode & 07777, 0644u);
  EXPECT_EQ(Entries("closed"), std::vector<std::string>{"writable.png"});
  EXPECT_EQ(Entries("open"), (std::vector<std::string>{"link.png", "readonly.png"}));
  chmod("closed", 0755);  // so that the folder can be cleared away
}

TEST_F(ReplaceTest, ACtrlCOrACrashInTheMiddleOfASaveLeavesNoTemporaryFile) {
  enum Ending { kInterrupt, kFault, kAbort };
  for (Ending ending : {kInterrupt, kFault, kAbort}) {
    SCOPED_TRACE(ending);
    WriteFileBytes("sheet.png", "old");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Note: a sanitizer's own fault handler would report at length before ending the child;
      // the default action is what an ordinary build meets.
      signal(SIGSEGV, SIG_DFL);
      TFileReplacement replacement;
      if (!replacement.Begin(u"sheet.png")) _exit(10);
      replacement.stream->WriteBytes("half an image", 13);
      replacement.stream->Flush();
      if (write(ready[1], "!", 1) != 1) _exit(11);
      if (ending == kFault) {
        // A store to a page without access: a fault the processor raises.
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
      }
      if (ending == kAbort) std::abort();
      if (ending == kInterrupt) {
        alarm(60);  // a Ctrl+C that never arrives ends the child with another signal
        pause();
      }
      _exit(12);
    }
    close(ready[1]);
    char mark = 0;
    ASSERT_EQ(read(ready[0], &mark, 1), 1) << "the child never got to the middle of its save";
    close(ready[0]);
    if (ending == kInterrupt) kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // Ended by its signal, which the clean-up passed on.
    const int expected = ending == kInterrupt ? SIGINT : ending == kFault ? SIGSEGV : SIGABRT;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == expected) << status;
    EXPECT_EQ(Entries(), std::vector<std::string>{"sheet.png"});
    EXPECT_EQ(ReadFileBytes("sheet.png"), "old");
  }
}

TEST_F(ReplaceTest, AnEndingSignalWhileTheTemporaryFileIsBeingCreatedStillRemovesIt) {
  // The signal arrives right after the file is created, before anything is written: on the
  // saving thread itself, and on another thread of the process (as a kill may).
  enum Receiver { kSavingThread, kOtherThread };
  for (Receiver receiver : {kSavingThread, kOtherThread}) {
    SCOPED_TRACE(receiver);
    WriteFileBytes("sheet.png", "old");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::thread other;
      if (receiver == kOtherThread) {
        // A thread that takes the signal while the saving one holds it back.
        other = std::thread([] {
          for (;;) pause();
        });
        other.detach();
        SetTemporaryFileCreatedHook([] { kill(getpid(), SIGTERM); });
      } else {
        SetTemporaryFileCreatedHook([] { raise(SIGTERM); });
      }
      alarm(60);  // a signal that never acts ends the child with another one
      TFileReplacement replacement;
      if (!replacement.Begin(u"sheet.png")) _exit(10);
      // Note: the other thread's handler may still be removing the file; wait for it.
      for (;;) pause();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(Entries(), std::vector<std::string>{"sheet.png"});
    EXPECT_EQ(ReadFileBytes("sheet.png"), "old");
  }
}

TEST_F(ReplaceTest, AFullDiskIsTheReasonToldForAFailedWriteFlushOrClose) {
  // /dev/full takes no byte: every write to it fails with ENOSPC, reached here through a
  // link the way a file on a full disk would be.
  ASSERT_EQ(symlink("/dev/full", "full.png"), 0);
  {
    SCOPED_TRACE("a few bytes: the failure shows only when the stream is closed");
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"full.png"));
    replacement.stream->WriteBytes("ten bytes!", 10);
    errno = 0;
    EXPECT_FALSE(replacement.Commit(10));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(replacement.error, ENOSPC);
  }
  {
    SCOPED_TRACE("many bytes: a write itself fails, and the caller gives up");
    TFileReplacement replacement;
    ASSERT_TRUE(replacement.Begin(u"full.png"));
    const std::string big(1 << 20, 'x');
    try {
      for (int i = 0; i < 4; ++i) replacement.stream->WriteBytes(big.data(), 1 << 20);
    } catch (const TStreamWriteException&) {
    }
    replacement.Abandon();
    EXPECT_EQ(replacement.error, ENOSPC);
  }
  EXPECT_EQ(Entries(), std::vector<std::string>{"full.png"});
}

}  // namespace
