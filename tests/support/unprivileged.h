// Runs part of a test as an ordinary user, for the cases where root would bypass file
// permissions: as root, in a forked child that drops to "nobody"; as anyone else, right
// here. The part reports failed checks as text lines, which the caller turns into test
// failures.
#pragma once

#include <grp.h>  // for setgroups
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

class TUnprivileged {
 public:
  TUnprivileged() {
    if (geteuid() != 0) {
      uid = geteuid();
      gid = getegid();
      available = true;
      return;
    }
    if (const passwd* user = getpwnam("nobody")) {
      uid = user->pw_uid;
      gid = user->pw_gid;
      available = uid != 0;
    }
  }

  // Runs the part as the ordinary user; returns the failures it reported (empty: none).
  std::string Run(const std::function<void(std::string& failures)>& part) const {
    std::string failures;
    if (geteuid() != 0) {
      part(failures);
      return failures;
    }
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return "could not make a pipe";
    const pid_t child = fork();
    if (child < 0) return "could not fork";
    if (child == 0) {
      close(pipe_ends[0]);
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        failures = "could not become the ordinary user\n";
      } else {
        part(failures);
      }
      ssize_t ignored = write(pipe_ends[1], failures.data(), failures.size());
      static_cast<void>(ignored);
      _exit(0);
    }
    close(pipe_ends[1]);
    char buffer[512];
    for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof(buffer))) > 0;) {
      failures.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failures += "the child did not end\n";
    return failures;
  }

  bool available = false;  // false: root, and no "nobody" to become
  uid_t uid = 0;
  gid_t gid = 0;
};

// A check inside a part: records the failed condition with its line.
#define UNPRIVILEGED_CHECK(failures, condition)                                            \
  do {                                                                                     \
    if (!(condition)) (failures) += std::string(__FILE__ ":") + std::to_string(__LINE__) + \
                                    ": " #condition "\n";                                  \
  } while (0)
