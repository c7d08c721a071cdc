// Runs one of the project's programs as a user would, from a chosen folder,
// and collects its standard output and exit status.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Path of a program built by this tree, e.g. built_program("sharectl/sharectl").
std::string built_program(const std::string &relative);

// Runs program with args in folder cwd (no shell involved).
ProgramResult run_program(const std::string &program, const std::vector<std::string> &args,
                          const std::string &cwd);
