// The playcheck program as the media server runs it: one line of XML on
// standard output, exit status 0, arguments ignored, and the registry hive
// read from beside the program.
#include <gtest/gtest.h>

#include <filesystem>

#include "LogCapture.h"
#include "PlatformRegistry.h"
#include "PlaycheckFilters.h"
#include "ProgramRun.h"

namespace {

TEST(PlaycheckProgram, PrintsOneLineOfFiltersAndReadsTheHiveBesideIt) {
  TempDir dir;
  const std::string program = dir.file("playcheck");
  std::filesystem::copy_file(built_program("playcheck/playcheck"), program);
  std::filesystem::create_directory(dir.file("registry"));
  TestPool pool;
  RegKey *root = nullptr, *server = nullptr;
  ASSERT_EQ(regkey_root_open(&root, dir.file("registry").c_str(), PLAYCHECK_HIVE, pool), 0);
  const std::string clsid = playcheck_class_id(pool, "flac");
  const std::string key = "CLSID\\" + clsid + "\\InProcServer32";
  ASSERT_EQ(regkey_open(&server, root, key.c_str(), REGKEY_WRITE | REGKEY_CREATE, pool), 0);
  ASSERT_EQ(regkey_value_set(server, nullptr, "/nowhere/flac & co.so", 0, pool), 0);

  ProgramResult result = run_program(program, {"ignored", "-h"}, "/");
  EXPECT_EQ(result.status, 0);
  ASSERT_TRUE(result.out.starts_with("<filters><filter name=\"")) << result.out.substr(0, 200);
  EXPECT_TRUE(result.out.ends_with("</filter></filters>\n"));
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << "one line";
  EXPECT_NE(result.out.find("clsid=\"" + clsid + "\" path=\"/nowhere/flac &amp; co.so\" exist=\"0\""),
            std::string::npos);
}

}  // namespace
