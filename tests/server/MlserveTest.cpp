// mlserve run as a user runs it, from an installation folder made by mlsetup
// over a small generated library, driven by real clients (curl, ffprobe,
// GUPnP-AV's DIDL-Lite parser) and by hostile ones.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "InstallFolder.h"
#include "LogCapture.h"
#include "ProgramRun.h"
#include "Thumbnails.h"

namespace {

int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
  close(fd);
  return ntohs(a.sin_port);
}

int connect_local(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void run_ok(const std::string &program, const std::vector<std::string> &args, const std::string &cwd) {
  ProgramResult r = run_program(program, args, cwd);
  ASSERT_EQ(r.status, 0) << program << ": " << r.err;
}

// A media folder: a video with subtitles beside it, a tagged track with a
// cover in its album folder.
void make_media(const std::string &dir) {
  run_ok("/bin/mkdir", {"-p", dir + "/Artist/Album"}, "/");
  run_ok("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=duration=2:size=160x120:rate=10",
                             "-f", "lavfi", "-i", "sine=duration=2", "-pix_fmt", "yuv420p", "-shortest",
                             dir + "/clip.mp4"}, dir);
  std::ofstream(dir + "/clip.srt") << "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
  run_ok("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
                             "-metadata", "title=Tone & Co", "-metadata", "artist=Artist", "-metadata",
                             "album=Album", dir + "/Artist/Album/01 tone.mp3"}, dir);
  run_ok("/usr/bin/convert", {"-size", "32x32", "gradient:orange-brown", dir + "/Artist/Album/folder.jpg"}, dir);
}

void set_listen(const std::string &config, int port, const std::string &extra) {
  std::ifstream in(config);
  std::stringstream text;
  text << in.rdbuf();
  std::string xml = text.str();
  xml = std::regex_replace(xml, std::regex("port=\"41952\" ip=\"\""),
                           "port=\"" + std::to_string(port) + "\" ip=\"127.0.0.1\"");
  xml = std::regex_replace(xml, std::regex("connectionTimeout=\"60\""), "connectionTimeout=\"3\"" + extra);
  std::ofstream(config) << xml;
}

// The real program, stopped with SIGTERM when the object goes.
class Mlserve {
 public:
  Mlserve(const std::string &install, int port) : port_(port) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(install.c_str()) != 0) _exit(127);
      const std::string program = built_program("server/mlserve");
      execl(program.c_str(), program.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 400; ++i) {  // up to 20 s, for a loaded machine
      const int fd = connect_local(port);
      if (fd >= 0) {
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Mlserve() { stop(); }
  // SIGTERM, then the exit status; a server still running 30 s later is
  // killed and gives -1.
  int stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 300 && waitpid(pid_, &status_, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!WIFEXITED(status_) && !WIFSIGNALED(status_)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -1;
    }
    pid_ = -1;
    return status_;
  }
  std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  pid_t pid_ = -1;
  int port_;
  int status_ = -1;
};

ProgramResult curl(const std::vector<std::string> &args) {
  std::vector<std::string> all = {"-s", "-S", "--max-time", "10"};
  all.insert(all.end(), args.begin(), args.end());
  return run_program("/usr/bin/curl", all, "/");
}

std::string soap_body(const std::string &service, const std::string &action, const std::string &arguments) {
  return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><u:" +
         action + " xmlns:u=\"urn:schemas-upnp-org:service:" + service + ":1\">" + arguments + "</u:" + action +
         "></s:Body></s:Envelope>";
}

std::string browse_args(const std::string &id, const std::string &flag, const std::string &sort = "") {
  return "<ObjectID>" + id + "</ObjectID><BrowseFlag>" + flag +
         "</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>"
         "<SortCriteria>" + sort + "</SortCriteria>";
}

std::string search_args(const std::string &id, const std::string &criteria) {
  return "<ContainerID>" + id + "</ContainerID><SearchCriteria>" + criteria +
         "</SearchCriteria><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>"
         "<SortCriteria></SortCriteria>";
}

std::string unescape(std::string text) {
  const std::pair<const char *, const char *> entities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                                                            {"&amp;", "&"}};
  for (const auto &[from, to] : entities) text = std::regex_replace(text, std::regex(from), to);
  return text;
}

// The text between the first open and the last close in text, or "". Large
// answers are cut by plain search: std::regex recurses once per character a
// ".*" takes, which overflows the stack of a sanitizer build.
std::string between(const std::string &text, const std::string &open, const std::string &close) {
  const std::size_t from = text.find(open), to = text.rfind(close);
  return from == std::string::npos || to == std::string::npos || to < from + open.size()
             ? ""
             : text.substr(from + open.size(), to - from - open.size());
}

// SOAP arguments asking for count objects from start (count 0: all).
std::string paged(std::string args, int start, int count) {
  args = std::regex_replace(args, std::regex("<StartingIndex>0<"), "<StartingIndex>" + std::to_string(start) + "<");
  return std::regex_replace(args, std::regex("<RequestedCount>0<"), "<RequestedCount>" + std::to_string(count) + "<");
}

// The titles of an escaped SOAP answer's DIDL-Lite, in document order.
std::vector<std::string> titles_in(const std::string &answer) {
  const std::string didl = unescape(answer);
  std::vector<std::string> out;
  std::regex title("<dc:title>([^<]*)</dc:title>");
  for (auto it = std::sregex_iterator(didl.begin(), didl.end(), title); it != std::sregex_iterator(); ++it) {
    out.push_back((*it)[1].str());
  }
  return out;
}

// One NOTIFY receiver on 127.0.0.1: collects the bodies of what it gets.
class NotifySink {
 public:
  NotifySink() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(fd_, 8);
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &length);
    port_ = ntohs(a.sin_port);
  }
  ~NotifySink() { close(fd_); }
  int port() const { return port_; }
  // The next request received within seconds, or "".
  std::string next(int seconds) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, seconds * 1000) != 1) return "";
    const int c = accept(fd_, nullptr, nullptr);
    std::string got;
    char buffer[4096];
    while (got.find("</e:propertyset>") == std::string::npos) {
      pollfd q{c, POLLIN, 0};
      if (poll(&q, 1, 3000) != 1) break;
      const ssize_t n = recv(c, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    const char ok[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    send(c, ok, sizeof ok - 1, MSG_NOSIGNAL);
    close(c);
    return got;
  }

 private:
  int fd_;
  int port_ = 0;
};

class MlserveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_ = new InstallFolder;
    media_ = install_->scratch().file("media");
    make_media(media_);
    run_ok(built_program("sharectl/sharectl"), {"-S", media_}, install_->path());
    port_ = free_port();
    set_listen(install_->file("config.xml"), port_, "");
    server_ = new Mlserve(install_->path(), port_);
  }
  static void TearDownTestSuite() {
    delete server_;
    delete install_;
  }
  static ProgramResult soap(const std::string &service, const std::string &action, const std::string &arguments) {
    return curl({"-i", "-H", "Content-Type: text/xml; charset=\"utf-8\"", "-H",
                 "SOAPACTION: \"urn:schemas-upnp-org:service:" + service + ":1#" + action + "\"", "--data",
                 soap_body(service, action, arguments), server_->url("/control/" + service)});
  }
  // The DIDL-Lite Result of a search below the root.
  static std::string search(const std::string &criteria) {
    const std::string answer = soap("ContentDirectory", "Search", search_args("0", criteria)).out;
    return unescape(between(answer, "<Result>", "</Result>"));
  }
  static std::string first_match(const std::string &text, const std::string &pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
  }

  static InstallFolder *install_;
  static std::string media_;
  static int port_;
  static Mlserve *server_;
};

InstallFolder *MlserveTest::install_ = nullptr;
std::string MlserveTest::media_;
int MlserveTest::port_ = 0;
Mlserve *MlserveTest::server_ = nullptr;

}  // namespace

TEST_F(MlserveTest, DescriptionsAreValidXmlWithTheIdentificationString) {
  for (const char *path : {"/description.xml", "/ContentDirectory.xml", "/ConnectionManager.xml"}) {
    ProgramResult got = curl({"-i", server_->url(path)});
    EXPECT_NE(got.out.find("HTTP/1.1 200"), std::string::npos) << path;
    EXPECT_NE(got.out.find("Server: Linux/"), std::string::npos) << path;
    EXPECT_NE(got.out.find(", UPnP/1.0, Zentoria Media Server/2.7\r\n"), std::string::npos) << path;
    ProgramResult lint = run_program("/bin/sh", {"-c", "curl -s " + server_->url(path) + " | xmllint --noout -"}, "/");
    EXPECT_EQ(lint.status, 0) << path << lint.err;
  }
  ProgramResult icon =
      run_program("/bin/sh", {"-c", "curl -s " + server_->url("/icon.png") + " | identify -format '%m %wx%h' -"}, "/");
  EXPECT_EQ(icon.out, "PNG 48x48") << icon.err;
  const std::string description = curl({server_->url("/description.xml")}).out;
  EXPECT_NE(description.find("urn:schemas-upnp-org:device:MediaServer:1"), std::string::npos);
  // The device id is kept: the same UUID after a restart.
  std::ifstream kept(install_->file("data/device.uuid"));
  std::string uuid;
  kept >> uuid;
  EXPECT_NE(description.find("<UDN>uuid:" + uuid + "</UDN>"), std::string::npos) << uuid;
}

TEST_F(MlserveTest, ActionsAnswerOrFaultWithTheirUpnpError) {
  struct Case {
    const char *service, *action;
    std::string arguments;
    const char *expected;  // text in the answer
  };
  const Case cases[] = {
      {"ContentDirectory", "Browse", browse_args("0", "BrowseDirectChildren"), "NumberReturned>3<"},
      {"ContentDirectory", "Browse", browse_args("0", "BrowseMetadata"), "TotalMatches>1<"},
      {"ContentDirectory", "Browse", browse_args("0", "BrowseDirectChildren", "+dc:title"), "NumberReturned>3<"},
      {"ContentDirectory", "Browse", browse_args("0/99999", "BrowseMetadata"), "<errorCode>701<"},
      {"ContentDirectory", "Browse", browse_args("0/1/x", "BrowseMetadata"), "<errorCode>701<"},
      {"ContentDirectory", "Browse", browse_args("0", "BrowseSideways"), "<errorCode>402<"},
      {"ContentDirectory", "Browse", "<ObjectID>0</ObjectID>", "<errorCode>402<"},
      {"ContentDirectory", "Browse", browse_args("0", "BrowseDirectChildren", "dc:title"), "<errorCode>709<"},
      {"ContentDirectory", "Search", search_args("0", "dc:title = \"x\" y"), "<errorCode>708<"},
      {"ContentDirectory", "Search", search_args("0/99999", "*"), "<errorCode>710<"},
      {"ContentDirectory", "Search", search_args("0", "upnp:class derivedfrom \"object.item.audioItem\""),
       "NumberReturned>1<"},
      {"ContentDirectory", "GetSearchCapabilities", "", "dc:title"},
      {"ContentDirectory", "GetSortCapabilities", "", "<SortCaps>dc:title,"},
      {"ContentDirectory", "GetSystemUpdateID", "", "<Id>"},
      {"ContentDirectory", "DestroyObject", "<ObjectID>0</ObjectID>", "<errorCode>401<"},
      {"ConnectionManager", "GetProtocolInfo", "", "http-get:*:video/mp4:*"},
      {"ConnectionManager", "GetCurrentConnectionIDs", "", "<ConnectionIDs>0<"},
      {"ConnectionManager", "GetCurrentConnectionInfo", "<ConnectionID>0</ConnectionID>", "<Direction>Output<"},
      {"ConnectionManager", "GetCurrentConnectionInfo", "<ConnectionID>7</ConnectionID>", "<errorCode>706<"},
  };
  for (const Case &c : cases) {
    ProgramResult got = soap(c.service, c.action, c.arguments);
    EXPECT_NE(got.out.find(c.expected), std::string::npos) << c.action << " " << c.arguments << "\n" << got.out;
  }
  // Every search capability is a property the search accepts.
  for (const char *name : {"@parentID", "dc:title", "dc:creator", "dc:date", "upnp:class", "upnp:artist",
                           "upnp:album", "upnp:genre"}) {
    EXPECT_EQ(soap("ContentDirectory", "Search", search_args("0", std::string(name) + " exists true"))
                  .out.find("errorCode"),
              std::string::npos)
        << name;
  }
}

TEST_F(MlserveTest, ResultsCarryOwnUrlsThatGupnpParses) {
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  EXPECT_EQ(didl.find("file://"), std::string::npos) << didl;
  EXPECT_NE(didl.find(">Tone &amp; Co<"), std::string::npos) << didl;
  EXPECT_NE(didl.find("protocolInfo=\"http-get:*:text/srt:*\">" + server_->url("/subtitle/")), std::string::npos);
  const std::string art = first_match(didl, "<upnp:albumArtURI[^>]*>([^<]+)<");
  ASSERT_FALSE(art.empty()) << didl;
  EXPECT_NE(curl({"-i", art}).out.find("Content-Type: image/jpeg"), std::string::npos);
  const std::string srt = first_match(didl, "text/srt:\\*\">([^<]+)<");
  EXPECT_NE(curl({srt}).out.find("Hello"), std::string::npos);
  const std::string script =
      "import sys, gi\n"
      "gi.require_version('GUPnPAV', '1.0')\n"
      "from gi.repository import GUPnPAV\n"
      "p = GUPnPAV.DIDLLiteParser()\n"
      "items = []\n"
      "p.connect('item-available', lambda p, o: items.append(o.get_title()))\n"
      "p.parse_didl(sys.stdin.read())\n"
      "print(len(items), sorted(items))\n";
  std::ofstream(install_->scratch().file("didl.xml")) << didl;
  ProgramResult parsed =
      run_program("/bin/sh", {"-c", "/usr/bin/python3 -c \"$0\" < didl.xml", script}, install_->scratch().path());
  if (parsed.status != 0 && parsed.err.find("No module named") != std::string::npos) GTEST_SKIP() << parsed.err;
  EXPECT_EQ(parsed.out, "2 ['Clip', 'Tone & Co']\n") << parsed.err;
}

TEST_F(MlserveTest, MediaStreamsByObjectIdWithRanges) {
  const std::string didl = search("upnp:class derivedfrom \"object.item.videoItem\"");
  const std::string url = first_match(didl, "video/mp4:[^\"]*\"[^>]*>([^<]+)<");
  ASSERT_FALSE(url.empty()) << didl;
  const long size = std::stol(first_match(didl, "size=\"([0-9]+)\""));
  struct Case {
    std::string range;
    const char *status;
    std::string content_range;
    long length;
  };
  const Case cases[] = {
      {"", "200", "", size},
      {"0-99", "206", "bytes 0-99/" + std::to_string(size), 100},
      {"-10", "206", "bytes " + std::to_string(size - 10) + "-" + std::to_string(size - 1) + "/" +
                         std::to_string(size), 10},
      {std::to_string(size - 5) + "-", "206", "bytes " + std::to_string(size - 5) + "-" + std::to_string(size - 1) +
                                                  "/" + std::to_string(size), 5},
      {std::to_string(size) + "-", "416", "bytes */" + std::to_string(size), -1},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"-i", "-o", "/dev/null", "-D", "-", url};
    if (!c.range.empty()) args.insert(args.begin(), {"-r", c.range});
    const std::string head = curl(args).out;
    EXPECT_NE(head.find("HTTP/1.1 " + std::string(c.status)), std::string::npos) << c.range << head;
    EXPECT_NE(head.find("Accept-Ranges: bytes"), std::string::npos) << c.range;
    if (!c.content_range.empty()) {
      EXPECT_NE(head.find("Content-Range: " + c.content_range), std::string::npos) << head;
    }
    if (c.length >= 0) {
      EXPECT_NE(head.find("Content-Length: " + std::to_string(c.length) + "\r"), std::string::npos) << head;
      EXPECT_NE(head.find("Content-Type: video/mp4"), std::string::npos) << head;
    }
  }
  EXPECT_NE(curl({"-I", url}).out.find("Content-Length: " + std::to_string(size)), std::string::npos);
  const std::vector<std::string> probe = {"-v", "error", "-show_entries", "format=duration:stream=codec_name",
                                          "-of", "compact"};
  std::vector<std::string> remote = probe, local = probe;
  remote.push_back(url);
  local.push_back(media_ + "/clip.mp4");
  EXPECT_EQ(run_program("/usr/bin/ffprobe", remote, "/").out, run_program("/usr/bin/ffprobe", local, "/").out);
}

TEST_F(MlserveTest, HostileRequestsGetTheirRefusalAndOthersAreStillServed) {
  struct Case {
    std::vector<std::string> args;
    const char *status;
  };
  const std::string control = server_->url("/control/ContentDirectory");
  const std::string entities =
      "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>" +
      soap_body("ContentDirectory", "Browse", "<ObjectID>&b;</ObjectID>");
  const Case cases[] = {
      {{"-H", "X-Big: " + std::string(20000, 'a'), server_->url("/description.xml")}, "431"},
      {{"--data-binary", std::string(70000, 'a'), control}, "413"},
      {{"-H", "Transfer-Encoding: chunked", "--data-binary", std::string(100000, 'a'), control}, "413"},
      {{"--data", entities, control}, "400"},
      {{"--data", "not xml", control}, "400"},
      {{server_->url("/media/..%2f..%2fetc%2fpasswd/0")}, "404"},
      {{server_->url("/media/99999/0")}, "404"},
      {{server_->url("/etc/passwd")}, "404"},
      {{"-X", "PUT", server_->url("/media/1/0")}, "405"},
      {{"-X", "SUBSCRIBE", "-H", "NT: upnp:event", "-H", "CALLBACK: <http://192.0.2.1:80/steal>",
        server_->url("/event/ContentDirectory")}, "412"},
      {{"-X", "SUBSCRIBE", "-H", "NT: upnp:event", "-H", "CALLBACK: <http://localhost:80/>",
        server_->url("/event/ContentDirectory")}, "412"},
      {{"-X", "UNSUBSCRIBE", "-H", "SID: uuid:nobody", server_->url("/event/ContentDirectory")}, "412"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"-o", "/dev/null", "-w", "%{http_code}"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(curl(args).out, c.status) << c.args.back();
  }
  std::vector<int> idle;
  for (int i = 0; i < 300; ++i) idle.push_back(connect_local(port_));
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", server_->url("/description.xml")}).out, "200");
  for (int fd : idle) close(fd);
}

TEST(MlserveRunTest, AccessRulesRefuseRequestsAndHideObjects) {
  InstallFolder install;
  const int port = free_port();
  set_listen(install.file("config.xml"), port,
             "/><noauth path=\"/icon.png\"/><noauth libpath=\"0/2\"/><auth from=\"*\"");
  Mlserve server(install.path(), port);
  const auto status = [](const std::string &url) {
    return curl({"-o", "/dev/null", "-w", "%{http_code}", url}).out;
  };
  EXPECT_EQ(status(server.url("/icon.png")), "403");
  EXPECT_EQ(status(server.url("/description.xml")), "200");
  const auto browse = [&](const std::string &id) {
    return curl({"--data", soap_body("ContentDirectory", "Browse", browse_args(id, "BrowseDirectChildren")),
                 server.url("/control/ContentDirectory")}).out;
  };
  const std::string root = unescape(browse("0"));
  EXPECT_NE(root.find(">Audio<"), std::string::npos) << root;
  EXPECT_EQ(root.find(">Photos<"), std::string::npos) << root;
  EXPECT_NE(browse("0/2").find("<errorCode>701<"), std::string::npos);
}

// Regression: idle connections held the request threads in their poll
// until the connection timeout, so SIGTERM took that long to stop the server.
TEST(MlserveRunTest, StopsCleanlyWhileClientsHoldIdleConnections) {
  InstallFolder install;
  const int port = free_port();
  set_listen(install.file("config.xml"), port, "");
  {
    std::ifstream in(install.file("config.xml"));
    std::stringstream text;
    text << in.rdbuf();
    std::ofstream(install.file("config.xml"))
        << std::regex_replace(text.str(), std::regex("connectionTimeout=\"3\""), "connectionTimeout=\"600\"");
  }
  Mlserve server(install.path(), port);
  std::vector<int> idle;
  for (int i = 0; i < 50; ++i) idle.push_back(connect_local(port));
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", server.url("/description.xml")}).out, "200");
  const int status = server.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (int fd : idle) close(fd);
}

// Photos and videos of a feed are the internet's files: their album art
// was this server's thumbnail URL, which answered 404 for every one.
TEST(MlserveRunTest, InternetPicturesAndVideosAnnouncedThumbnailsThatDidNotExist) {
  InstallFolder install;
  const std::string media = install.scratch().file("media");
  run_ok("/bin/mkdir", {"-p", media}, "/");
  const std::string web = "http://127.0.0.1:" + std::to_string(free_port());
  std::ofstream(media + "/web.rss") << "<rss xmlns:media=\"http://search.yahoo.com/mrss/\"><channel><title>Web</title>"
                                       "<item><title>Pic</title><media:content url=\"" + web + "/p.jpg\" type=\"image/jpeg\"/></item>"
                                       "<item><title>Clip</title><enclosure url=\"" + web + "/c.mp4\" type=\"video/mp4\"/></item>"
                                       "</channel></rss>";
  run_ok(built_program("sharectl/sharectl"), {"-S", media}, install.path());
  const int port = free_port();
  set_listen(install.file("config.xml"), port, "");
  Mlserve server(install.path(), port);
  const std::string didl = unescape(curl({"-H", "SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#Search\"",
                                          "--data", soap_body("ContentDirectory", "Search",
                                                              search_args("0", "upnp:class derivedfrom \"object.item\"")),
                                          server.url("/control/ContentDirectory")}).out);
  for (const char *file : {"/p.jpg", "/c.mp4"}) EXPECT_NE(didl.find(web + file), std::string::npos) << file << didl;
  EXPECT_EQ(didl.find("/thumb/"), std::string::npos) << didl;
}

TEST(MlserveRunTest, LibraryChangedBySharectlIsEventedAndBrowsed) {
  InstallFolder install;
  const std::string media = install.scratch().file("media");
  make_media(media);
  const int port = free_port();
  set_listen(install.file("config.xml"), port, "");
  Mlserve server(install.path(), port);
  NotifySink sink;
  ProgramResult subscribed =
      curl({"-i", "-X", "SUBSCRIBE", "-H", "NT: upnp:event", "-H", "TIMEOUT: Second-300", "-H",
            "CALLBACK: <http://127.0.0.1:" + std::to_string(sink.port()) + "/notify>",
            server.url("/event/ContentDirectory")});
  ASSERT_NE(subscribed.out.find("SID: uuid:"), std::string::npos) << subscribed.out;
  const std::string initial = sink.next(5);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(initial, m, std::regex("<SystemUpdateID>([0-9]+)<"))) << initial;
  EXPECT_NE(initial.find("SEQ: 0\r\n"), std::string::npos) << initial;
  const unsigned long before = std::stoul(m[1].str());
  run_ok(built_program("sharectl/sharectl"), {"-S", media}, install.path());
  const std::string changed = sink.next(10);
  ASSERT_TRUE(std::regex_search(changed, m, std::regex("<SystemUpdateID>([0-9]+)<"))) << changed;
  EXPECT_GT(std::stoul(m[1].str()), before);
  EXPECT_NE(changed.find("<ContainerUpdateIDs>0," + m[1].str() + "<"), std::string::npos) << changed;
  const std::string found = curl({"-H", "Content-Type: text/xml", "--data",
                                  soap_body("ContentDirectory", "Search",
                                            search_args("0", "dc:title contains \"Tone\"")),
                                  server.url("/control/ContentDirectory")}).out;
  EXPECT_NE(found.find("NumberReturned>1<"), std::string::npos) << found;
  const int status = server.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

namespace {

// A corpus of every profile band, made by ffmpeg and ImageMagick: name,
// the ffmpeg or convert arguments after the inputs, and the DLNA profile
// the guidelines give it ("" for none).
struct ProfileCase {
  const char *file;
  std::vector<std::string> make;
  const char *profile;
};

std::vector<std::string> lavfi(const std::string &video, const std::string &audio) {
  std::vector<std::string> in = {"-loglevel", "error", "-y"};
  if (!video.empty()) in.insert(in.end(), {"-f", "lavfi", "-i", video + ":duration=1:rate=25"});
  if (!audio.empty()) in.insert(in.end(), {"-f", "lavfi", "-i", audio + ":duration=1:sample_rate=48000"});
  return in;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// H.264 of an ffmpeg profile ("baseline", "main", "high") with stereo AAC.
std::vector<std::string> h264(const char *profile) {
  return {"-c:v", "libx264", "-profile:v", profile, "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2", "-shortest"};
}
const std::vector<std::string> kH264 = h264("main");

const ProfileCase kProfileCases[] = {
    {"tone.mp3", lavfi("", "sine=frequency=440") + std::vector<std::string>{"-b:a", "128k", "-ac", "2"}, "MP3"},
    {"tone.m4a", lavfi("", "sine=frequency=440") + std::vector<std::string>{"-c:a", "aac", "-b:a", "128k"}, "AAC_ISO_320"},
    {"tone.flac", lavfi("", "sine=frequency=440"), ""},
    {"tone.wav", lavfi("", "sine=frequency=440"), ""},
    {"tn.jpg", {"-size", "160x120", "gradient:red-blue"}, "JPEG_TN"},
    {"sm.jpg", {"-size", "640x480", "gradient:red-blue"}, "JPEG_SM"},
    {"tall.jpg", {"-size", "480x640", "gradient:red-blue"}, "JPEG_MED"},
    {"med.jpg", {"-size", "1024x768", "gradient:red-blue"}, "JPEG_MED"},
    {"lrg.jpg", {"-size", "2048x1536", "gradient:red-blue"}, "JPEG_LRG"},
    {"big.png", {"-size", "800x600", "gradient:red-blue"}, "PNG_LRG"},
    {"sd.mp4", lavfi("testsrc=size=720x576", "sine=frequency=440") + kH264, "AVC_MP4_MP_SD_AAC_MULT5"},
    {"hd.mp4", lavfi("testsrc=size=1280x720", "sine=frequency=440") + kH264, "AVC_MP4_MP_HD_720p_AAC"},
    {"sd.mkv", lavfi("testsrc=size=720x576", "sine=frequency=440") + kH264, "AVC_MKV_MP_HD_AAC_MULT5"},
    {"hd.mkv", lavfi("testsrc=size=1920x1080", "sine=frequency=440") + kH264, "AVC_MKV_MP_HD_AAC_MULT5"},
    {"base.mp4", lavfi("testsrc=size=720x576", "sine=frequency=440") + h264("baseline"), "AVC_MP4_BL_L3L_SD_AAC"},
    {"high.mp4", lavfi("testsrc=size=1280x720", "sine=frequency=440") + h264("high"), "AVC_MP4_HP_HD_AAC"},
    {"high.mkv", lavfi("testsrc=size=1280x720", "sine=frequency=440") + h264("high"), "AVC_MKV_HP_HD_AAC_MULT5"},
    {"pal.ts", lavfi("testsrc=size=720x576", "sine=frequency=440") +
                   std::vector<std::string>{"-c:v", "mpeg2video", "-c:a", "mp2", "-ac", "2", "-shortest"},
     "MPEG_TS_SD_EU_ISO"},
    {"odd.mp4", lavfi("testsrc=size=4000x3000", "") + std::vector<std::string>{"-c:v", "libx264", "-preset",
                                                                                 "ultrafast", "-pix_fmt", "yuv420p"},
     ""},
};

class DlnaTest : public MlserveTest {
 protected:
  static void SetUpTestSuite() {
    install_ = new InstallFolder;
    media_ = install_->scratch().file("corpus");
    run_ok("/bin/mkdir", {"-p", media_}, "/");
    for (const ProfileCase &c : kProfileCases) {
      const bool image = c.make.front() == "-size";
      std::vector<std::string> args = c.make;
      args.push_back(media_ + "/" + c.file);
      run_ok(image ? "/usr/bin/convert" : "/usr/bin/ffmpeg", args, media_);
    }
    std::ofstream(media_ + "/sd.srt") << "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
    make_tagged_covers();
    run_ok(built_program("sharectl/sharectl"), {"-S", media_}, install_->path());
    port_ = free_port();
    set_listen(install_->file("config.xml"), port_, "");
    server_ = new Mlserve(install_->path(), port_);
  }
  // Tracks whose only cover is in their tags (ID3 APIC, MP4 covr, FLAC
  // picture): tagged.mp3, tagged.m4a, tagged.flac.
  static void make_tagged_covers() {
    const std::string art = install_->scratch().file("art.jpg");
    run_ok("/usr/bin/convert", {"-size", "300x200", "gradient:green-yellow", art}, "/");
    for (const char *extension : {"mp3", "m4a", "flac"}) {
      std::vector<std::string> args = lavfi("", "sine=frequency=440");
      args.insert(args.end(), {"-i", art, "-map", "0", "-map", "1", "-c:v", "mjpeg", "-disposition:v", "attached_pic",
                               media_ + "/tagged." + extension});
      run_ok("/usr/bin/ffmpeg", args, media_);
    }
  }
  // The type text of a file's res, by its extension.
  static std::string type_of(const std::string &file) {
    const std::pair<const char *, const char *> types[] = {
        {".mp3", "audio/mpeg"}, {".m4a", "audio/mp4"}, {".flac", "flac"},   {".wav", "wav"},   {".jpg", "image/jpeg"},
        {".png", "image/png"},  {".mp4", "video/mp4"}, {".mkv", "matroska"}, {".ts", "mp2t"}};
    for (const auto &[extension, type] : types) {
      if (file.ends_with(extension)) return type;
    }
    return "?";
  }
  // The DIDL item of a file: its title (the name without extension, first
  // letter capitalised) and the type of its res.
  static std::string item(const std::string &didl, const std::string &file) {
    std::string name = file.substr(0, file.rfind('.'));
    name[0] = static_cast<char>(toupper(name[0]));
    const std::string title = "<dc:title>" + name + "</dc:title>";
    for (std::size_t at = didl.find("<item "); at != std::string::npos; at = didl.find("<item ", at + 1)) {
      const std::size_t end = didl.find("</item>", at);
      if (end == std::string::npos) break;
      const std::string text = didl.substr(at, end + 7 - at);
      if (text.find(title) != std::string::npos && text.find(type_of(file)) != std::string::npos) return text;
    }
    return "";
  }
  static std::string media_url(const std::string &didl, const std::string &file) {
    return first_match(item(didl, file), ">(http://[^<]+/media/[^<]+)<");
  }
};

}  // namespace

TEST_F(DlnaTest, ProfilesFollowTheStreamsAndAgreeWithGupnpDlna) {
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  const bool gupnp = access("/usr/bin/gupnp-dlna-info", X_OK) == 0;
  if (!gupnp) std::cout << "gupnp-dlna-info missing (gupnp-dlna-tools): the cross-check is skipped\n";
  for (const ProfileCase &c : kProfileCases) {
    const std::string entry = item(didl, c.file);
    ASSERT_FALSE(entry.empty()) << c.file << "\n" << didl;
    const std::string fourth = first_match(entry, "protocolInfo=\"http-get:\\*:[^:]+:([^\"]*)\"");
    const std::string name = first_match(fourth, "DLNA.ORG_PN=([^;]+);");
    EXPECT_EQ(name, c.profile) << entry;
    const bool streamed = type_of(c.file).find("image/") == std::string::npos;
    EXPECT_NE(fourth.find(std::string("DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=") +
                          (streamed ? "01500000" : "00d00000") + std::string(24, '0')),
              std::string::npos)
        << c.file << " " << fourth;
    if (!gupnp) continue;
    const std::string known = first_match(
        run_program("/usr/bin/gupnp-dlna-info", {"file://" + media_ + "/" + c.file}, "/").out,
        "Profile Name: ([A-Z0-9_a-z]+)");
    if (!known.empty()) {
      EXPECT_EQ(name, known) << c.file;
    }
  }
  EXPECT_NE(didl.find("xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\""), std::string::npos);
}

TEST_F(DlnaTest, MediaAnswersCarryDlnaHeadersAndRefuseWhatDoesNotFit) {
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  const std::string video = media_url(didl, "sd.mp4"), photo = media_url(didl, "med.jpg");
  ASSERT_FALSE(video.empty() || photo.empty()) << didl;
  struct Case {
    std::string url;
    std::vector<std::string> headers;
    const char *status;
    std::string expected;  // a header line of the answer, or ""
  };
  const std::string features = first_match(item(didl, "sd.mp4"), "video/mp4:([^\"]*)\"");
  const std::string subtitle = first_match(item(didl, "sd.mp4"), "text/srt:\\*\">([^<]+)<");
  ASSERT_FALSE(subtitle.empty()) << item(didl, "sd.mp4");
  const Case cases[] = {
      {video, {"getcontentFeatures.dlna.org: 1"}, "200", "contentFeatures.dlna.org: " + features},
      {video, {}, "200", "transferMode.dlna.org: Streaming"},
      {video, {}, "200", "realTimeInfo.dlna.org: DLNA.ORG_TLAG=*"},
      {video, {"transferMode.dlna.org: Background"}, "200", "transferMode.dlna.org: Background"},
      {video, {"transferMode.dlna.org: Interactive"}, "406", ""},
      {video, {"TimeSeekRange.dlna.org: npt=0-"}, "406", ""},
      {video, {"getCaptionInfo.sec: 1"}, "200", "CaptionInfo.sec: " + subtitle},
      {photo, {}, "200", "transferMode.dlna.org: Interactive"},
      {photo, {"transferMode.dlna.org: Streaming"}, "406", ""},
  };
  for (const Case &c : cases) {
    for (const char *method : {"GET", "HEAD"}) {
      std::vector<std::string> args = {"-o", "/dev/null", "-D", "-", "-X", method, c.url};
      if (std::string(method) == "HEAD") args[4] = "-I", args.erase(args.begin() + 5);
      for (const std::string &h : c.headers) args.insert(args.begin(), {"-H", h});
      const std::string head = curl(args).out;
      EXPECT_NE(head.find(std::string("HTTP/1.1 ") + c.status), std::string::npos) << method << " " << head;
      if (!c.expected.empty()) {
        EXPECT_NE(head.find(c.expected + "\r\n"), std::string::npos) << c.expected << head;
      }
    }
  }
  EXPECT_NE(item(didl, "sd.mp4").find("<sec:CaptionInfoEx sec:type=\"srt\">" + subtitle + "<"), std::string::npos);
  EXPECT_EQ(curl({"-H", "getCaptionInfo.sec: 1", "-I", media_url(didl, "hd.mp4")}).out.find("CaptionInfo.sec"),
            std::string::npos);
}

TEST_F(DlnaTest, ClientsDifferExactlyInTheirQuirks) {
  struct Client {
    std::vector<std::string> headers;
    const char *mkv_type;
    bool product_cap, registrar;
    const char *xbox_music;  // the answer to a search of the Xbox's container "4"
  };
  const Client clients[] = {
      {{}, "video/x-matroska", false, false, "<errorCode>710<"},
      {{"-H", "User-Agent: SEC_HHP_[TV] Samsung/1.0"}, "video/x-mkv", true, false, "<errorCode>710<"},
      {{"-H", "X-AV-Client-Info: av=5.0; cn=\"Samsung Electronics\""}, "video/x-mkv", true, false, "<errorCode>710<"},
      {{"-H", "CPFN.UPNP.ORG: [TV] Samsung Q60 Series (55)"}, "video/x-mkv", true, false, "<errorCode>710<"},
      {{"-H", "User-Agent: Xbox/2.0.4548.0 UPnP/1.0 Xbox/2.0.4548.0"}, "video/x-matroska", false, true,
       "NumberReturned>7<"},
  };
  std::string standard;
  for (const Client &c : clients) {
    std::vector<std::string> args = c.headers;
    args.insert(args.end(), {"--data", soap_body("ContentDirectory", "Search",
                                                 search_args("0", "upnp:class derivedfrom \"object.item\"")),
                             server_->url("/control/ContentDirectory")});
    std::string didl = unescape(curl(args).out);
    EXPECT_NE(didl.find("protocolInfo=\"http-get:*:" + std::string(c.mkv_type) + ":"), std::string::npos)
        << c.mkv_type;
    // Apart from the quirks, the answer is the standard one.
    didl = std::regex_replace(didl, std::regex("video/x-mkv"), "video/x-matroska");
    if (standard.empty()) standard = didl;
    EXPECT_EQ(didl, standard);
    args = c.headers;
    args.push_back(server_->url("/description.xml"));
    const std::string description = curl(args).out;
    EXPECT_EQ(description.find("<sec:ProductCap") != std::string::npos, c.product_cap);
    EXPECT_EQ(description.find("X_MS_MediaReceiverRegistrar") != std::string::npos, c.registrar);
    args = c.headers;
    args.insert(args.end(), {"--data", soap_body("ContentDirectory", "Search",
                                                 search_args("4", "upnp:class derivedfrom \"object.item\"")),
                             server_->url("/control/ContentDirectory")});
    const std::string music = curl(args).out;
    EXPECT_NE(music.find(c.xbox_music), std::string::npos) << music.substr(0, 600);
  }
  std::string registrar = soap_body("", "IsAuthorized", "<DeviceID></DeviceID>");
  registrar = std::regex_replace(registrar, std::regex("urn:schemas-upnp-org:service::1"),
                                 "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1");
  EXPECT_NE(curl({"--data", registrar, server_->url("/control/X_MS_MediaReceiverRegistrar")}).out.find("<Result>1<"),
            std::string::npos);
  EXPECT_NE(soap("ContentDirectory", "X_GetFeatureList", "").out.find("samsung.com_BASICVIEW"), std::string::npos);
}

TEST_F(DlnaTest, BrowseAndSearchSortByCriteriaTheSameAcrossPages) {
  const std::string caps = soap("ContentDirectory", "GetSortCapabilities", "").out;
  EXPECT_NE(caps.find("dc:title,dc:date,upnp:album,upnp:originalTrackNumber,dc:creator,upnp:artist,upnp:genre"),
            std::string::npos);
  const auto titles = [&](const std::string &id, const std::string &sort, int start, int count) {
    const std::string args = paged(browse_args(id, "BrowseDirectChildren", sort), start, count);
    return titles_in(soap("ContentDirectory", "Browse", args).out);
  };
  // The container of the photos.
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  const std::string folder = first_match(item(didl, "big.png"), "parentID=\"([^\"]+)\"");
  ASSERT_FALSE(folder.empty()) << didl;
  for (const char *sort : {"+dc:title", "-dc:title", "+upnp:album,-dc:title"}) {
    const std::vector<std::string> all = titles(folder, sort, 0, 0);
    ASSERT_EQ(all.size(), 6u) << sort;
    std::vector<std::string> paged;
    for (int i = 0; i < static_cast<int>(all.size()); i += 4) {
      for (const std::string &t : titles(folder, sort, i, 4)) paged.push_back(t);
    }
    EXPECT_EQ(paged, all) << sort;
    std::vector<std::string> expected = all;
    std::stable_sort(expected.begin(), expected.end(), [&](const std::string &a, const std::string &b) {
      std::string x = a, y = b;
      for (auto &ch : x) ch = static_cast<char>(tolower(ch));
      for (auto &ch : y) ch = static_cast<char>(tolower(ch));
      return sort[0] == '+' ? x < y : x > y;
    });
    if (std::string(sort).find(',') == std::string::npos) {
      EXPECT_EQ(all, expected) << sort;
    }
  }
  // Search hits follow the criteria too, page by page.
  const auto searched = [&](const std::string &sort, int start, int count) {
    const std::string args = std::regex_replace(search_args("0", "upnp:class derivedfrom \"object.item.imageItem\""),
                                                std::regex("<SortCriteria></SortCriteria>"),
                                                "<SortCriteria>" + sort + "</SortCriteria>");
    return titles_in(soap("ContentDirectory", "Search", paged(args, start, count)).out);
  };
  std::vector<std::string> up = searched("+dc:title", 0, 0), down = searched("-dc:title", 0, 0);
  ASSERT_EQ(up.size(), 6u);
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(up, down);
  std::vector<std::string> pages = searched("-dc:title", 0, 4), rest = searched("-dc:title", 4, 4);
  pages.insert(pages.end(), rest.begin(), rest.end());
  std::reverse(pages.begin(), pages.end());
  EXPECT_EQ(pages, up);
  EXPECT_NE(soap("ContentDirectory", "Browse", browse_args(folder, "BrowseDirectChildren", "+upnp:rating"))
                .out.find("<errorCode>709<"),
            std::string::npos);
}

// Thumbnails made side by side (each asked twice at once, as many requests
// as may wait) are byte for byte those previewgrab makes one at a time.
TEST_F(DlnaTest, ThumbnailsMadeSideBySideEqualThoseMadeOneAtATime) {
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  const char *files[] = {"lrg.jpg", "med.jpg", "big.png", "tall.jpg",   "hd.mkv",     "sd.mp4",
                         "hd.mp4",  "pal.ts",  "base.mp4", "tagged.mp3", "tagged.m4a", "tagged.flac"};
  const std::string out = install_->scratch().file("side-by-side");
  run_ok("/bin/mkdir", {"-p", out}, "/");
  std::ofstream config(out + "/curl.conf");
  for (const char *file : files) {
    const std::string url = first_match(item(didl, file), "<upnp:albumArtURI[^>]*>([^<]+)<");
    ASSERT_FALSE(url.empty()) << file;
    for (const char *copy : {"a", "b"}) config << "url = \"" << url << "\"\noutput = \"" << file << "." << copy << "\"\n";
  }
  config.close();
  const std::string parallel = std::to_string(THUMB_WAITERS + 1);
  const ProgramResult got = run_program("/usr/bin/curl", {"-s", "-f", "--parallel", "--parallel-max", parallel,
                                                         "-K", "curl.conf"}, out);
  ASSERT_EQ(got.status, 0) << got.err;
  for (const char *file : files) {
    run_ok(built_program("previewgrab/previewgrab"), {media_ + "/" + file, out + "/" + file + ".jpg", "160"}, out);
    const std::string alone = read_file(out + "/" + file + ".jpg");
    ASSERT_FALSE(alone.empty()) << file;
    EXPECT_EQ(read_file(out + "/" + file + ".a"), alone) << file;
    EXPECT_EQ(read_file(out + "/" + file + ".b"), alone) << file;
  }
}

TEST_F(DlnaTest, ThumbnailsAreSmallJpegsKeptWithinTheCacheBudget) {
  const std::string didl = search("upnp:class derivedfrom \"object.item\"");
  const std::string photo = item(didl, "lrg.jpg");
  EXPECT_NE(photo.find("image/jpeg:DLNA.ORG_PN=JPEG_TN;"), std::string::npos) << photo;
  EXPECT_EQ(item(didl, "tone.flac").find("albumArtURI"), std::string::npos);
  for (const char *file : {"lrg.jpg", "tall.jpg", "hd.mkv", "pal.ts", "tagged.mp3", "tagged.m4a", "tagged.flac"}) {
    const std::string url = first_match(item(didl, file), "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">([^<]+)<");
    ASSERT_FALSE(url.empty()) << file << item(didl, file);
    const std::string first = curl({url}).out;
    const std::string size = run_program("/bin/sh", {"-c", "curl -s " + url + " | identify -format '%m %w %h' -"},
                                         "/").out;
    int width = 0, height = 0;
    EXPECT_EQ(std::sscanf(size.c_str(), "JPEG %d %d", &width, &height), 2) << file << size;
    EXPECT_TRUE(width <= 160 && height <= 160 && (width == 160 || height == 160)) << file << size;
    EXPECT_EQ(curl({url}).out, first) << file;  // the second answer comes from the cache
  }
}

// More thumbnails than the budget holds: the oldest go at the next one made;
// a damaged file gets none.
TEST(DlnaBudgetTest, TheThumbnailCacheStaysWithinItsBudget) {
  InstallFolder install;
  const std::string media = install.scratch().file("media");
  make_media(media);
  run_ok(built_program("sharectl/sharectl"), {"-S", media}, install.path());
  const int port = free_port();
  set_listen(install.file("config.xml"), port, "");
  {
    std::ifstream in(install.file("config.xml"));
    std::stringstream text;
    text << in.rdbuf();
    std::ofstream(install.file("config.xml"))
        << std::regex_replace(text.str(), std::regex("maxSize=\"4096\" minSize=\"3072\""), "maxSize=\"2\" minSize=\"1\"");
  }
  const std::string folder = install.file("data/cache/thumbnails");
  run_ok("/bin/mkdir", {"-p", folder}, "/");
  for (int i = 0; i < 40; ++i) {  // earlier thumbnails, 100 KiB each
    std::ofstream(folder + "/9" + std::to_string(1000 + i) + ".jpg") << std::string(100 * 1024, 'x');
  }
  run_ok("/bin/sh", {"-c", "touch -d '2020-01-01' " + folder + "/*.jpg"}, "/");
  Mlserve server(install.path(), port);
  const std::string didl = unescape(curl({"--data", soap_body("ContentDirectory", "Search",
                                                              search_args("0", "upnp:class derivedfrom \"object.item\"")),
                                          server.url("/control/ContentDirectory")}).out);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(didl, m, std::regex("audioItem.*?<upnp:albumArtURI[^>]*>([^<]+)<"))) << didl;
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", m[1].str()}).out, "200");
  const std::string used = run_program("/usr/bin/du", {"-sk", folder}, "/").out;
  EXPECT_LE(std::stol(used), 2048) << used;
  EXPECT_GT(std::stol(used), 0) << used;
  // A damaged file: no thumbnail, and the server goes on.
  std::ofstream(media + "/clip.mp4", std::ios::trunc) << std::string(4096, 'z');
  ASSERT_TRUE(std::regex_search(didl, m, std::regex("videoItem.*?<upnp:albumArtURI[^>]*>([^<]+)<"))) << didl;
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", m[1].str()}).out, "404");
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", server.url("/description.xml")}).out, "200");
}
