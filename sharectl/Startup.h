// sharectl's start-up and teardown: one table of modules in start-up order.
//
// Each row starts one module and knows how to stop it. Start-up runs the rows
// in order until one fails; teardown stops, in reverse order, exactly the rows
// that started. A module joins the run by adding its row to the table.
#pragma once

#include "RunState.h"

enum class StartResult {
  started,
  failed,  // logged (and printed where the user must see it); go to teardown
  exit,    // APR or the root pool are missing: the process ends with -1
};

class Startup {
 public:
  // Starts every module in order; stops at the first failure.
  StartResult start(RunState &run);
  // Stops the started modules in reverse order.
  void stop(RunState &run);

 private:
  int started_ = 0;
};
