// XML reading: the element tree and its accessors, flattened keys for
// repeated siblings, and the streaming reader with its error reports and
// single-byte encodings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommonXML.h"
#include "LogCapture.h"
#include "log4c.h"

namespace {

const char *hash_value(apr_hash_t *hash, const char *key) {
  return static_cast<const char *>(apr_hash_get(hash, key, APR_HASH_KEY_STRING));
}

TEST(XmlHash, RepeatedSiblingsGetIndexedPaths) {
  TestPool pool;
  std::string text =
      "<root><item>a</item><item id=\"x\"><name>n</name></item><item>c</item><other k=\"v\"/></root>";
  apr_hash_t *hash = nullptr;
  ASSERT_EQ(xml_parse_buffer_to_hash(pool, text.data(), text.size(), &hash), APR_SUCCESS);
  EXPECT_STREQ(hash_value(hash, "root/item"), "a");
  EXPECT_STREQ(hash_value(hash, "root/item[1]@id"), "x");
  EXPECT_STREQ(hash_value(hash, "root/item[1]/name"), "n");
  EXPECT_STREQ(hash_value(hash, "root/item[2]"), "c");
  EXPECT_STREQ(hash_value(hash, "root/item/last()"), "3");
  EXPECT_STREQ(hash_value(hash, "root/other@k"), "v");
  EXPECT_EQ(hash_value(hash, "root/other"), nullptr) << "an element without text has no text key";
}

TEST(XmlHash, EmptyOrBrokenTextFails) {
  TestPool pool;
  LogCapture log;
  apr_hash_t *hash = reinterpret_cast<apr_hash_t *>(1);
  EXPECT_EQ(xml_parse_buffer_to_hash(pool, "", 0, &hash), APR_EGENERAL);
  EXPECT_EQ(hash, nullptr);
  EXPECT_EQ(xml_parse_buffer_to_hash(pool, "<a><b></a>", 10, &hash), APR_EGENERAL);
  EXPECT_TRUE(log.contains("reason"));
}

TEST(XmlTree, ReadsFileAndEditsAttributesAndText) {
  TestPool pool;
  TempDir dir;
  write_file(dir.file("t.xml"), "<Config Lang=\"en\"><x>one<y/>two</x></Config>");
  apr_xml_doc *doc = nullptr;
  ASSERT_EQ(xml_read_file_tree(pool, dir.file("t.xml").c_str(), &doc), APR_SUCCESS);
  apr_xml_elem *root = doc->root;
  EXPECT_STREQ(xml_attr_get(root, "lang"), "en");
  EXPECT_EQ(xml_attr_get(root, "missing"), nullptr);
  EXPECT_STREQ(xml_elem_text(pool, root->first_child), "one") << "only the text before the first child";
  EXPECT_EQ(xml_elem_text(pool, root), nullptr);

  EXPECT_EQ(xml_attr_set(pool, root, "LANG", "de"), APR_SUCCESS);
  EXPECT_EQ(xml_attr_set(pool, root, "extra", "1"), APR_SUCCESS);
  EXPECT_STREQ(xml_attr_get(root, "lang"), "de");
  EXPECT_STREQ(xml_attr_get(root, "extra"), "1");
  EXPECT_EQ(xml_attr_set(pool, root, "lang", nullptr), APR_SUCCESS);
  EXPECT_EQ(xml_attr_get(root, "lang"), nullptr);
  EXPECT_STREQ(xml_attr_get(root, "extra"), "1");
  EXPECT_EQ(xml_attr_set(pool, nullptr, "a", "b"), APR_EGENERAL);

  EXPECT_EQ(xml_elem_set_text(pool, root->first_child, "new"), APR_SUCCESS);
  EXPECT_STREQ(xml_elem_text(pool, root->first_child), "new");
  EXPECT_EQ(xml_elem_set_text(pool, root->first_child, nullptr), APR_SUCCESS);
  EXPECT_EQ(xml_elem_text(pool, root->first_child), nullptr);
  EXPECT_EQ(xml_elem_set_text(pool, nullptr, "x"), APR_EGENERAL);
}

TEST(XmlTree, MissingFileFails) {
  TestPool pool;
  LogCapture log;
  apr_xml_doc *doc = nullptr;
  EXPECT_EQ(xml_read_file_tree(pool, "/nonexistent/file.xml", &doc), APR_EGENERAL);
  EXPECT_TRUE(log.contains("Unable to open Meta Data file (/nonexistent/file.xml)"));
}

struct Collected {
  std::vector<std::string> elements;
  std::string text;
};

void on_start(void *data, const XML_Char *name, const XML_Char **) {
  static_cast<Collected *>(data)->elements.push_back(name);
}
void on_end(void *, const XML_Char *) {}
void on_text(void *data, const XML_Char *text, int length) {
  static_cast<Collected *>(data)->text.append(text, static_cast<size_t>(length));
}

int user_texts;
std::string last_user_text;
void count_user_text(int, const char *, int user_level, const char *user_message, int) {
  if (user_level == 3 && user_message != nullptr) {
    ++user_texts;
    last_user_text = user_message;
  }
}

class XmlStreamTest : public ::testing::Test {
 protected:
  int stream(const std::string &content) {
    write_file(dir.file("s.xml"), content);
    return xml_parse_file_stream(dir.file("s.xml").c_str(), on_start, on_end, on_text, nullptr, &collected);
  }
  TestPool pool;
  TempDir dir;
  LogCapture log;
  Collected collected;
};

TEST_F(XmlStreamTest, ReadsLargeFilesAcrossBlocks) {
  std::string content = "<list>";
  for (int i = 0; i < 2000; ++i) content += "<e>" + std::to_string(i) + "</e>";
  content += "</list>";
  ASSERT_EQ(stream(content), APR_SUCCESS);
  EXPECT_EQ(collected.elements.size(), 2001u);
  EXPECT_EQ(collected.text.substr(collected.text.size() - 4), "1999");
}

TEST_F(XmlStreamTest, MalformedBlockStopsTheReadAndTellsTheUser) {
  std::string content = "<list>" + std::string(5000, ' ') + "<a></b>" + std::string(5000, ' ') + "<late/></list>";
  user_texts = 0;
  log4c_set_user_callback(count_user_text, 0, 3);
  EXPECT_EQ(stream(content), APR_EGENERAL);
  log4c_set_user_callback(nullptr, 0, 0);
  EXPECT_EQ(user_texts, 1);
  EXPECT_EQ(last_user_text, "Bad XML file encountered, skipping...");
  EXPECT_TRUE(log.contains("Could not feed data to XML parser, error code 7, reason: mismatched tag, file: "));
  EXPECT_EQ(collected.elements, (std::vector<std::string>{"list", "a"})) << "nothing after the failing block";
}

TEST_F(XmlStreamTest, TruncatedDocumentFailsAtTheEnd) {
  EXPECT_EQ(stream("<list><a>"), APR_EGENERAL);
  EXPECT_TRUE(log.contains("Could not finish XML parsing, error code"));
}

TEST_F(XmlStreamTest, MissingFileFails) {
  EXPECT_EQ(xml_parse_file_stream(dir.file("none.xml").c_str(), on_start, on_end, on_text, nullptr, &collected),
            APR_EGENERAL);
  EXPECT_TRUE(log.contains("Unable to open xml file ("));
}

TEST_F(XmlStreamTest, SingleByteCodePageIsDecoded) {
  ASSERT_EQ(stream("<?xml version=\"1.0\" encoding=\"windows-1252\"?><t>caf\xE9 \x80</t>"), APR_SUCCESS);
  EXPECT_EQ(collected.text, "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST_F(XmlStreamTest, ByteUndefinedInTheCodePageIsRejected) {
  EXPECT_EQ(stream("<?xml version=\"1.0\" encoding=\"windows-1252\"?><t>a\x81</t>"), APR_EGENERAL);
  EXPECT_TRUE(log.contains("Could not convert"));
  EXPECT_EQ(collected.text.find('\0'), std::string::npos);
}

TEST_F(XmlStreamTest, UnknownMultiByteEncodingIsRejected) {
  EXPECT_EQ(stream("<?xml version=\"1.0\" encoding=\"no-such-charset\"?><t/>"), APR_EGENERAL);
  EXPECT_TRUE(log.contains("Could not initialize conversion to utf8"));
}

}  // namespace
