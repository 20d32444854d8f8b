// Program arguments on POSIX: the bytes main() was given.
#include "runtime/arguments.h"

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}
