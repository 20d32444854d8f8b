// The console on POSIX systems: standard output that cannot take the bytes (a full device, a
// closed descriptor, a pipe whose reader went away) raises the write error, in a child
// process each.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "stream/console.h"
#include "stream/stream.h"

namespace {

// Prints with standard output replaced by `prepare`, in a child process. 0: the write error
// was raised; 1: the print returned as if the text had gone out; 2: another exception;
// -1: the child was killed (a closed pipe's signal).
int PrintWithStandardOutput(const std::function<void()>& prepare) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    StartStream();
    prepare();
    int code = 1;
    try {
      ConsolePrint(u"Found ini file");
    } catch (const TStreamWriteException&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Console, OutputThatCannotBeWrittenRaisesTheWriteError) {
  // A full device.
  EXPECT_EQ(PrintWithStandardOutput([] {
              const int full = open("/dev/full", O_WRONLY);
              dup2(full, 1);
            }),
            0);
  // A closed standard output.
  EXPECT_EQ(PrintWithStandardOutput([] { close(1); }), 0);
  // A pipe whose reader went away: the error, not death by SIGPIPE.
  EXPECT_EQ(PrintWithStandardOutput([] {
              int ends[2];
              if (pipe(ends) != 0) _exit(3);
              close(ends[0]);
              dup2(ends[1], 1);
            }),
            0);
  // Still fine when the output takes the bytes.
  EXPECT_EQ(PrintWithStandardOutput([] {
              const int sink = open("/dev/null", O_WRONLY);
              dup2(sink, 1);
            }),
            1);
}

}  // namespace
