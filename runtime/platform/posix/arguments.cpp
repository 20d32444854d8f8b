// Program arguments on POSIX: the bytes main() was given.
#include "runtime/arguments.h"

#include <filesystem>

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string ExecutableFile() {
  std::error_code error;
  const std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : file.string();
}
