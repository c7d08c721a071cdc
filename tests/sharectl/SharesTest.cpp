// The share actions as a user meets them: a URL given where a folder belongs
// is refused with the options that share URLs named.
#include "ProgramRun.h"
#include "ShareFixture.h"

namespace {

class Shares : public ShareTest {};

TEST_F(Shares, UrlGivenAsAFolderNamesTheUrlOptions) {
  ProgramResult r = run_program(built_program("sharectl/sharectl"), {"-S", "http://127.0.0.1:9/x.mp3"}, install_);
  EXPECT_NE(r.out.find("Invalid http://127.0.0.1:9/x.mp3, please use -A or -I or -V to add audio/image/video URLs, "
                       "or -B or -J or -W to add audio/image/video Feeds\n\n\nCould not add/update file/folder(s)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.status, 1);
}

}  // namespace
