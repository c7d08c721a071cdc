// Documents written by the serializer: DIDL-Lite element order and
// attributes, the other formats' frames, the by-value text form, and the
// user log's records.
#include <expat.h>
#include <gtest/gtest.h>

#include <string>

#include "CommonSerialize.h"
#include "CommonUserLog.h"
#include "CommonUserMessage.h"
#include "LogCapture.h"

namespace {

const std::string kDidlHeader =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
const std::string kPrefixes =
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"";
const std::string kXhtmlPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\t<!DOCTYPE html PUBLIC \"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\">\t <html xmlns=\"http://www.w3.org/1999/xhtml\"" +
    kPrefixes + ">\t <head></head><body>";

class SerializeTest : public ::testing::Test {
 protected:
  std::string output(SerializeBuffer *buffer, const SerializeOptions *options = nullptr) {
    const char *text = nullptr;
    EXPECT_EQ(serialize_output(buffer, pool, options, &text), APR_SUCCESS);
    return text;
  }
  TestPool pool;
  LogCapture log;
};

TEST_F(SerializeTest, DidlItemListsTitleClassAndEachResourceWithItsOwnAttributes) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_DIDL_LITE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "5");
  serialize_add(buffer, "@parentID", 0, "1");
  serialize_add(buffer, "@restricted", 0, "1");
  serialize_add(buffer, "upnp:class", 0, "object.item.audioItem.musicTrack");
  serialize_add(buffer, "dc:title", 0, "Song &amp; Dance");
  serialize_add(buffer, "res", 0, "http://h/a");
  serialize_add(buffer, "res@size", 0, "10");
  serialize_add(buffer, "res", 1, "http://h/b");
  serialize_add(buffer, "res@size", 1, "20");
  EXPECT_EQ(output(buffer), kDidlHeader +
                                "<item id=\"5\" parentID=\"1\" restricted=\"1\">"
                                "<dc:title>Song &amp; Dance</dc:title>"
                                "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                                "<res size=\"10\">http://h/a</res><res size=\"20\">http://h/b</res>"
                                "</item></DIDL-Lite>");
}

TEST_F(SerializeTest, DidlContainerKeepsTitleFirstWhateverTheOrderOfAdding) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_DIDL_LITE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@childCount", 0, "2");
  serialize_add(buffer, "upnp:artist", 0, "Band");
  serialize_add(buffer, "dc:title", 0, "Albums");
  serialize_add(buffer, "upnp:class", 0, "OBJECT.CONTAINER.album");
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "upnp:class", 0, "object.container");
  serialize_add_escaped(buffer, "dc:title", 0, "A<B");
  EXPECT_EQ(output(buffer), kDidlHeader +
                                "<container childCount=\"2\"><dc:title>Albums</dc:title>"
                                "<upnp:class>OBJECT.CONTAINER.album</upnp:class><upnp:artist>Band</upnp:artist>"
                                "</container><container><dc:title>A&lt;B</dc:title>"
                                "<upnp:class>object.container</upnp:class></container></DIDL-Lite>");
}

TEST_F(SerializeTest, DidlRecordWithUnknownClassHasNoElementName) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_DIDL_LITE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "upnp:class", 0, "thing");
  EXPECT_EQ(output(buffer), kDidlHeader + "<><upnp:class>thing</upnp:class></></DIDL-Lite>");
  EXPECT_EQ(log.count("CommonSerialize", 3,
                      "Invalid value for the upnp:class property, cannot determine container/item"),
            1);
}

TEST_F(SerializeTest, TheHundredAndFirstLineIsDropped) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_RESULTSET);
  serialize_new_record(buffer, nullptr);
  for (int n = 0; n < 101; ++n) serialize_add(buffer, "zentoria:tag", n, "t");
  serialize_add(buffer, "zentoria:tag@x", 100, "lost");
  EXPECT_EQ(log.count("CommonSerialize", 3, "Internal static buffer too small, truncating..."), 2);
  std::string text = output(buffer);
  size_t lines = 0;
  for (size_t at = text.find("<zentoria:tag>"); at != std::string::npos; at = text.find("<zentoria:tag>", at + 1))
    ++lines;
  EXPECT_EQ(lines, 100u);
  EXPECT_EQ(text.find("lost"), std::string::npos);
}

TEST_F(SerializeTest, EmptyBufferIsHeaderAndFooter) {
  EXPECT_EQ(output(serialize_create(pool, FORMAT_RESULTSET)), "<resultset" + kPrefixes + "></resultset>");
  EXPECT_EQ(output(serialize_create(pool, FORMAT_SMIL)),
            "<smil" + kPrefixes + "><head></head><body><seq></seq></body></smil>");
  SerializeOptions options{"<a>", "</a>", nullptr, nullptr};
  EXPECT_EQ(output(serialize_create(pool, FORMAT_RSS), &options), "<a></a>");
}

TEST_F(SerializeTest, UnusedFormatsOpenNoRecords) {
  SerializeBuffer *buffer = serialize_create(pool, static_cast<SerializeFormat>(12));
  serialize_new_record(buffer, "x");
  serialize_add(buffer, "dc:title", 0, "dropped");
  EXPECT_EQ(output(buffer), "");
  EXPECT_EQ(log.count("CommonSerialize", 3, INTERNAL_ERROR_TEXT), 3);
}

TEST_F(SerializeTest, XhtmlListWrapsRecordsInAList) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_XHTML_LIST);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "a", 0, "one");
  serialize_add(buffer, "a@href", 0, "/1");
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "a", 0, "two");
  EXPECT_EQ(output(buffer), kXhtmlPrologue +
                                "<ul class=\"medialist\"><li><a href=\"/1\">one</a></li><li><a>two</a></li></ul>"
                                "</body></html>");
}

TEST_F(SerializeTest, ByValueWritesOneCrLfLinePerEntry) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_BY_VALUE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "5");
  serialize_add(buffer, "dc:title", 0, "A");
  EXPECT_EQ(output(buffer), "5,dc:title,A\r\n");
}

TEST_F(SerializeTest, ByValueLineBreaksInAFeedTitleCannotForgeRecords) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_BY_VALUE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "5");
  serialize_add(buffer, "dc:title", 0, "Cast\r\n6,res,http://evil/");
  EXPECT_EQ(output(buffer), "5,dc:title,Cast\\x0d\\x0a6,res,http://evil/\r\n");
}

TEST_F(SerializeTest, ByValueSortsUnescapedValuesWithTheComparator) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_BY_VALUE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "7");
  serialize_add(buffer, "upnp:genre", 0, "rock");
  serialize_add(buffer, "upnp:genre", 1, "Jazz &amp; Blues");
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "8");
  serialize_add(buffer, "upnp:genre", 0, "Pop");
  SerializeOptions options{nullptr, nullptr, "|", serialize_compare_value_nocase};
  EXPECT_EQ(output(buffer, &options), "7|upnp:genre[1]|Jazz & Blues\r\n8|upnp:genre|Pop\r\n7|upnp:genre|rock\r\n");
}

TEST_F(SerializeTest, ByValueWithoutIdGivesEmptyText) {
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_BY_VALUE);
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "@id", 0, "1");
  serialize_new_record(buffer, nullptr);
  serialize_add(buffer, "dc:title", 0, "orphan");
  EXPECT_EQ(output(buffer), "");
  EXPECT_TRUE(log.contains("did not find id for object, returning empty result"));
}

TEST_F(SerializeTest, MoveLineRejectsBadPositions) {
  SerializeRecord record{};
  EXPECT_EQ(serialize_move_line(&record, 0, 3), APR_BADARG);
  EXPECT_EQ(log.count("CommonSerialize", 3, "invalid line number. current:0 new:3"), 1);
  EXPECT_EQ(serialize_move_line(&record, 1, 101), APR_BADARG);
  EXPECT_EQ(serialize_move_line(nullptr, 1, 2), APR_BADARG);
  EXPECT_EQ(log.count("CommonSerialize", 3, "NULL item"), 1);
}

TEST_F(SerializeTest, MoveLineShiftsTheLinesBetween) {
  SerializeRecord record{};
  record.count = 4;
  record.lines[1].name = "a";
  record.lines[2].name = "b";
  record.lines[3].name = "c";
  ASSERT_EQ(serialize_move_line(&record, 3, 1), APR_SUCCESS);
  EXPECT_STREQ(record.lines[1].name, "c");
  EXPECT_STREQ(record.lines[2].name, "a");
  ASSERT_EQ(serialize_move_line(&record, 1, 3), APR_SUCCESS);
  EXPECT_STREQ(record.lines[1].name, "a");
  EXPECT_STREQ(record.lines[3].name, "c");
}

TEST_F(SerializeTest, UserLogEventsBecomeMessageRecords) {
  ASSERT_EQ(user_log_init(pool), APR_SUCCESS);
  user_log_add(USER_LOG_DOWNLOADING, 9, "a \"b\" <c>");
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_RESULTSET);
  EXPECT_EQ(user_log_serialize(buffer), APR_SUCCESS);
  std::string text = output(buffer);
  user_log_terminate();
  EXPECT_EQ(text.rfind("<resultset" + kPrefixes + "><message code=\"9\" category=\"downloading\" "
                       "text=\"Started downloading &quot;a &quot;b&quot; &lt;c&gt;&quot;\" date=\"",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\" time=\""), std::string::npos);
  EXPECT_TRUE(text.ends_with("\"></message></resultset>")) << text;
}

}  // namespace

TEST_F(SerializeTest, HostileNamesAndTagsStillMakeDocumentsThatParseAsXml) {
  const char *hostile[] = {"raw\x01\x1B[31m", "latin \xE9t\xE9", "overlong \xC0\xAF", "surrogate \xED\xA0\x80",
                           "100% \xFF"};
  for (SerializeFormat format : {FORMAT_DIDL_LITE, FORMAT_RESULTSET, FORMAT_XHTML, FORMAT_XHTML_LIST, FORMAT_RSS,
                                 FORMAT_ASX, FORMAT_SMIL}) {
    SerializeBuffer *buffer = serialize_create(pool, format);
    for (const char *text : hostile) {
      serialize_new_record(buffer, nullptr);
      serialize_add(buffer, "@id", 0, "0/1/7");
      serialize_add(buffer, "upnp:class", 0, "object.item.audioItem");
      serialize_add_escaped(buffer, "dc:title", 0, text);
      serialize_add_escaped(buffer, "res", 0, (std::string("file:///m/") + text + ".mp3").c_str());
      serialize_add_escaped(buffer, "res@protocolInfo", 0, text);
    }
    serialize_new_record(buffer, nullptr);
    serialize_add(buffer, "upnp:class", 0, "object.item.audioItem");
    serialize_add_escaped(buffer, "res", 0, "http://host/a%20b.mp3");
    const std::string document = output(buffer);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    EXPECT_EQ(XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1), XML_STATUS_OK)
        << "format " << format << ": " << XML_ErrorString(XML_GetErrorCode(parser)) << "\n" << document;
    XML_ParserFree(parser);
    if (format == FORMAT_DIDL_LITE) {
      EXPECT_NE(document.find(">file:///m/latin %E9t%E9.mp3</res>"), std::string::npos) << document;
      EXPECT_NE(document.find(">file:///m/100%25 %FF.mp3</res>"), std::string::npos) << document;
      EXPECT_NE(document.find(">http://host/a%20b.mp3</res>"), std::string::npos) << "a web URL is not encoded twice";
      EXPECT_NE(document.find("<dc:title>raw[31m</dc:title>"), std::string::npos) << document;
    }
  }
}
