// The previewgrab program as the media server runs it: the usage text, the
// exit statuses a shell sees, and the log beside the program.
#include <gtest/gtest.h>

#include <filesystem>

#include "LogCapture.h"
#include "MediaFixtures.h"
#include "ProgramRun.h"
#include "ThumbnailFixture.h"

namespace {

const std::string kUsage = "Usage:\n\n ThumbnailAPI <filename> <outthumbname> <size>\n\n";

TEST(PreviewgrabProgram, UsageForAnyOtherArgumentCount) {
  const std::string program = built_program("previewgrab/previewgrab");
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"a.mp4", "a.jpg"}, {"-H", "a.jpg", "96"}, {"-h", "a.mp4", "a.jpg", "96"}, {}}) {
    ProgramResult result = run_program(program, args, "/");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, kUsage);
  }
}

TEST(PreviewgrabProgram, WritesTheJpegOrExitsWithTheFailureStatusLowBits) {
  TempDir dir;
  const std::string program = built_program("previewgrab/previewgrab");
  std::string photo = make_image(dir.path(), "wide.png", "-size 200x100 xc:red");
  ASSERT_FALSE(photo.empty());
  ProgramResult result = run_program(program, {"wide.png", "thumb.jpg", "50"}, dir.path());
  EXPECT_EQ(result.status, 0) << result.err;
  JpegFacts facts = read_jpeg(dir.file("thumb.jpg"));
  EXPECT_TRUE(facts.valid);
  EXPECT_EQ(facts.width, 50);
  EXPECT_EQ(facts.height, 25);

  // 20014 reaches a shell as its low eight bits.
  result = run_program(program, {"wide.png", "small.jpg", "abc"}, dir.path());
  EXPECT_EQ(result.status, 20014 & 0xFF);
  EXPECT_NE(result.err.find("could not extract thumbnail, error 80070057"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.file("small.jpg")));
  const std::string log = read_file(built_program("previewgrab/previewgrab.log"));
  EXPECT_NE(log.find("INFO  main - hello from main"), std::string::npos);
}

// The README said "\" separates folders; the program did not split a source
// there but made it "/" in folder and output names. "\" is part of a name,
// in every position.
TEST(PreviewgrabProgram, BackslashSeparatedSomeNamesAndNotOthers) {
  TempDir dir;
  const std::string program = built_program("previewgrab/previewgrab");
  std::filesystem::create_directory(dir.file("AC\\DC"));
  std::filesystem::create_directory(dir.file("sub"));
  ASSERT_FALSE(make_image(dir.file("AC\\DC"), "cover.png", "-size 40x40 xc:red").empty());
  ASSERT_FALSE(make_image(dir.file("sub"), "a.png", "-size 40x40 xc:red").empty());
  const struct {
    const char *source;
    const char *output;
    int status;
  } cases[] = {
      {"AC\\DC/cover.png", "one.jpg", 0},
      {"sub/a.png", "two\\three.jpg", 0},
      {"sub\\a.png", "four.jpg", 20014 & 0xFF},
  };
  for (const auto &c : cases) {
    ProgramResult result = run_program(program, {c.source, c.output, "16"}, dir.path());
    EXPECT_EQ(result.status, c.status) << c.source << result.err;
    EXPECT_EQ(std::filesystem::exists(dir.file(c.output)), c.status == 0) << c.output;
  }
}

}  // namespace
