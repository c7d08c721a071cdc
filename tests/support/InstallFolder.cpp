// Runs the built mlsetup into a temporary folder.
#include "InstallFolder.h"

#include <stdexcept>

#include "ProgramRun.h"

InstallFolder::InstallFolder() : path_(scratch_.file("install")) {
  ProgramResult setup = run_program(built_program("tools/mlsetup"), {path_}, scratch_.path());
  if (setup.status != 0) throw std::runtime_error("mlsetup failed: " + setup.out + setup.err);
}
