// mlbrowse run as a user runs it, from an installation folder made by
// mlsetup: documents on standard output, counts on standard error, clear
// refusals of bad ids, criteria and options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "LogCapture.h"
#include "ProgramRun.h"

namespace {

class MlbrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramResult setup = run_program(built_program("tools/mlsetup"), {"inst"}, dir_.path());
    ASSERT_EQ(setup.status, 0) << setup.err;
    install_ = dir_.file("inst");
  }
  ProgramResult mlbrowse(const std::vector<std::string> &args) {
    return run_program(built_program("tools/mlbrowse"), args, install_);
  }
  TempDir dir_;
  std::string install_;
};

}  // namespace

// --help was an "invalid option"; help and version need no library.
TEST(MlbrowseAnywhere, HelpWasAnInvalidOption) {
  TempDir elsewhere;
  for (const char *flag : {"-h", "--help"}) {
    ProgramResult r = run_program(built_program("tools/mlbrowse"), {flag}, elsewhere.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("usage: mlbrowse [options] browse ID\n")) << r.out;
  }
  ProgramResult version = run_program(built_program("tools/mlbrowse"), {"--version"}, elsewhere.path());
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_TRUE(version.out.starts_with("mlbrowse ")) << version.out;
}

// Every document but DIDL-Lite used the dc: and upnp: prefixes without
// declaring them: xmllint, as any namespace-aware reader, refused them.
TEST_F(MlbrowseTest, UndeclaredUpnpPrefixOutsideDidl) {
  if (access("/usr/bin/xmllint", X_OK) != 0) GTEST_SKIP() << "xmllint is not installed (Debian package libxml2-utils)";
  for (const char *format : {"didl", "resultset", "xhtml", "xhtml-list", "rss", "asx", "smil"}) {
    for (const std::vector<std::string> &query :
         {std::vector<std::string>{"browse", "0"}, std::vector<std::string>{"meta", "0/1"}}) {
      std::vector<std::string> args = {"-o", format};
      args.insert(args.end(), query.begin(), query.end());
      ProgramResult document = mlbrowse(args);
      ASSERT_EQ(document.status, 0) << format << document.err;
      write_file(dir_.file("document.xml"), document.out);
      ProgramResult lint = run_program("/usr/bin/xmllint", {"--noout", dir_.file("document.xml")}, dir_.path());
      EXPECT_EQ(lint.status, 0) << format << " " << query[0] << ": " << lint.err;
    }
  }
}

TEST_F(MlbrowseTest, BrowsePrintsTheRootsChildrenAndCounts) {
  ProgramResult result = mlbrowse({"browse", "0"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("<container id=\"0/1\" parentID=\"0\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("<dc:title>Video</dc:title>"), std::string::npos);
  EXPECT_NE(result.err.find("returned 3, total 3"), std::string::npos) << result.err;
}

TEST_F(MlbrowseTest, OptionsChooseFormatFilterAndPage) {
  ProgramResult result = mlbrowse({"-o", "resultset", "-f", "dc:title", "-s", "1", "-c", "1", "browse", "0"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "<resultset xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
            "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><result id=\"0/2\" parentID=\"0\" "
            "restricted=\"true\"><upnp:class>object.container"
            "</upnp:class><dc:title>Photos</dc:title></result></resultset>\n");
  EXPECT_NE(result.err.find("returned 1, total 3"), std::string::npos);
  EXPECT_EQ(mlbrowse({"meta", "0/3"}).status, 0);
  ProgramResult search = mlbrowse({"search", "0", "dc:title contains \"o\""});
  EXPECT_EQ(search.status, 0);
  EXPECT_NE(search.err.find("returned 3, total 3"), std::string::npos) << search.err;  // Audio, Photos, Video
}

TEST_F(MlbrowseTest, BadIdsCriteriaAndOptionsFailWithAReason) {
  ProgramResult bad_id = mlbrowse({"browse", "1 or 1=1"});
  EXPECT_EQ(bad_id.status, 1);
  EXPECT_NE(bad_id.err.find("Invalid object id \"1 or 1=1\""), std::string::npos) << bad_id.err;
  ProgramResult bad_criteria = mlbrowse({"search", "0", "dc:title = \"x\" y"});
  EXPECT_EQ(bad_criteria.status, 1);
  EXPECT_NE(bad_criteria.err.find("Invalid search criteria dc:title = \"x\" y at y"), std::string::npos);
  EXPECT_EQ(mlbrowse({"-o", "pdf", "browse", "0"}).status, 2);
  EXPECT_EQ(mlbrowse({"browse"}).status, 2);
  EXPECT_EQ(mlbrowse({"list", "0"}).status, 2);
  EXPECT_EQ(mlbrowse({"-c", "-5", "browse", "0"}).status, 2);
}

TEST_F(MlbrowseTest, UnknownIdsAndPropertiesExitNonZeroWithOneMessage) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const Case cases[] = {
      {{"browse", "00001"}, "mlbrowse: Invalid object id \"00001\"\n"},
      {{"meta", "999999"}, "mlbrowse: No object has the id \"999999\"\n"},
      {{"browse", "0/1/999"}, "mlbrowse: No object has the id \"0/1/999\"\n"},
      {{"meta", "0/2/1"}, "mlbrowse: No object has the id \"0/2/1\"\n"},
      {{"search", "0", "nosuch:prop = \"x\""}, "mlbrowse: Invalid property nosuch:prop in search criteria\n"},
  };
  for (const Case &c : cases) {
    ProgramResult result = mlbrowse(c.args);
    EXPECT_EQ(result.status, 1) << c.args[1];
    EXPECT_EQ(result.out, "") << c.args[1];
    EXPECT_EQ(result.err, c.message);
  }
  EXPECT_EQ(mlbrowse({"meta", "0/1"}).status, 0);
}
