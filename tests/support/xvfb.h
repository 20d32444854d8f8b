// A private virtual X server for tests that need a real display, stopped at the end.
// Note: each server takes a display number of its own through Xvfb's lock file, starting
// from a number derived from our process id, so test processes that run side by side never
// share (or unlink each other's) sockets; a number already taken makes that server exit at
// once, and the next number is tried.
#pragma once

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

class TXvfbServer {
 public:
  TXvfbServer() = default;
  TXvfbServer(const TXvfbServer&) = delete;
  TXvfbServer& operator=(const TXvfbServer&) = delete;
  ~TXvfbServer() { Stop(); }

  static bool Installed() { return access(kProgram, X_OK) == 0; }

  // Starts the server with one screen of the given size; returns its display name (":N"),
  // or "" when it could not be started.
  std::string Start(int width, int height) {
    Stop();
    const int first = kFirstDisplay + static_cast<int>(getpid() % kDisplaySpread);
    for (int number = first; number < first + kNumbersTried; ++number) {
      if (StartOn(number, width, height)) return display_;
      Stop();
    }
    return std::string();
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
    display_.clear();
  }

  const std::string& display() const { return display_; }

 private:
  // Runs Xvfb on display `number` and waits until it takes connections.
  bool StartOn(int number, int width, int height) {
    std::string name(1, ':');  // appended: g++ 12 warns falsely on ":" + string
    name += std::to_string(number);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = fork();
    if (pid_ == 0) {
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      execl(kProgram, "Xvfb", name.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return false;
    for (int waited = 0; waited < kStartMillis; waited += kPollMillis) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) {  // the number was taken, or no server
        pid_ = 0;
        return false;
      }
      if (Answers(number)) {
        display_ = name;
        return true;
      }
      usleep(kPollMillis * 1000);
    }
    return false;
  }

  // True when the display's socket, as X clients find it, is served by our process.
  bool Answers(int number) const {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int socket_fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (socket_fd < 0) return false;
    bool ours = false;
    if (connect(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      ucred peer = {};
      socklen_t size = sizeof peer;
      ours = getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
             peer.pid == pid_;
    }
    close(socket_fd);
    return ours;
  }

  static constexpr const char* kProgram = "/usr/bin/Xvfb";
  static constexpr int kFirstDisplay = 100;
  static constexpr int kDisplaySpread = 400;
  static constexpr int kNumbersTried = 20;
  static constexpr int kStartMillis = 10000;
  static constexpr int kPollMillis = 20;
  pid_t pid_ = 0;
  std::string display_;
};
