// mlreg as a person uses it on a hive file: values set, read back and
// removed, and the registry's refusals reported with its status.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "ProgramRun.h"

namespace {

TEST(Mlreg, SetGetAndDeleteThroughTheHiveFile) {
  TempDir dir;
  const std::string mlreg = built_program("tools/mlreg");
  const std::string hive = dir.file("HKEY_CLASSES_ROOT");
  const std::string key = "CLSID\\{1}\\InProcServer32";
  EXPECT_EQ(run_program(mlreg, {hive, "set", key, "", "/opt/lib & co.so"}, "/").status, 0);
  ProgramResult got = run_program(mlreg, {hive, "get", key}, "/");
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "/opt/lib & co.so\n");

  ProgramResult refused = run_program(mlreg, {hive, "delete", "CLSID"}, "/");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("registry status 720005"), std::string::npos) << "a key with sub-keys";
  EXPECT_EQ(run_program(mlreg, {hive, "delete", key, ""}, "/").status, 0);
  EXPECT_EQ(run_program(mlreg, {hive, "get", key}, "/").status, 1);
  EXPECT_EQ(run_program(mlreg, {hive, "delete", key}, "/").status, 0);
  EXPECT_EQ(run_program(mlreg, {hive, "get", key}, "/").err,
            "mlreg: get " + key + ": registry status 720002\n");
  EXPECT_EQ(run_program(mlreg, {hive, "set", key}, "/").status, 2);
}

}  // namespace
