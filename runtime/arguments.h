// The program's arguments as UTF-8 texts, the program's name first. One definition per
// platform, chosen by the build: POSIX hands them over as bytes (UTF-8 by convention);
// Windows is asked for its UTF-16 command line, so that names beyond the ANSI code page
// (a folder called "Übersicht" or "スプライト") arrive whole.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> ProgramArguments(int argc, char** argv);
