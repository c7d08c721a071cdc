// The table-driven reader of the XML formats. The root element chooses the
// table; every element's path (lower case) is looked up in an index of the
// table's rows built for the parse, with each optional "[...]" part expanded
// into the paths with and without it. Text is collected only for elements
// that store it, and both the nesting depth and the text kept per element
// are bounded, so that a hostile document costs bounded memory.
#include <apr_strings.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <unordered_map>
#include <vector>

#include "CommonMetaFileInternal.h"
#include "CommonXML.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

// Feeds nest a handful of levels; far deeper nesting is an attack or junk.
constexpr int kMaxDepth = 256;
// The text kept for one element; a longer description is cut.
constexpr std::size_t kMaxText = 256 * 1024;

struct ElementRecord {
  std::string path;
  const std::vector<short> *rows = nullptr;
  unsigned opened = 0;  // bit n: this element opened level n
  bool collect = false;
  std::string text;
};

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

struct XmlReader {
  explicit XmlReader(MetaFileParser *parser_) : parser(parser_), encoding_pool(nullptr, METAFILE_MODULE) {}

  MetaFileParser *parser;
  Pool encoding_pool;
  std::unique_ptr<XML_ParserStruct, ParserFree> xml;
  std::unordered_map<std::string, std::vector<short>> index;
  std::vector<ElementRecord> stack;  // records are reused; depth counts the live ones
  int depth = 0;
  bool text_cut = false;
};

std::string lower(const char *text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Every path a pattern with optional "[...]" parts stands for.
void expand(const std::string &pattern, std::vector<std::string> *out) {
  std::size_t open = pattern.find('[');
  std::size_t close = open == std::string::npos ? std::string::npos : pattern.find(']', open);
  if (close == std::string::npos) {
    out->push_back(pattern);
    return;
  }
  std::string head = pattern.substr(0, open);
  std::string tail = pattern.substr(close + 1);
  expand(head + pattern.substr(open + 1, close - open - 1) + tail, out);
  expand(head + tail, out);
}

void build_index(XmlReader *reader) {
  const MetaFormatTable *table = reader->parser->table;
  for (int row = 0; row < table->count; ++row) {
    std::vector<std::string> paths;
    expand(lower(table->rules[row].path), &paths);
    for (const std::string &path : paths) reader->index[path].push_back(static_cast<short>(row));
  }
}

const std::vector<short> *rows_of(const XmlReader *reader, const std::string &path) {
  auto found = reader->index.find(path);
  return found == reader->index.end() ? nullptr : &found->second;
}

const MetaFormatTable *table_of_root(const char *name) {
  for (const MetaFormatTable &table : META_FORMAT_TABLES) {
    if (strcasecmp(table.root, name) == 0) return &table;
  }
  return nullptr;
}

// The start action of a row; returns the level it opened, or 0.
int start_action(MetaFileParser *parser, const MetaElementRule &rule) {
  if (rule.kind >= META_KIND_LEVEL1) {
    int level = rule.kind - META_KIND_LEVEL1 + 1;
    return meta_level_open(parser, level) == APR_SUCCESS ? level : 0;
  }
  int level = meta_current_level(parser);
  if (level == 0 || rule.slot == 0) return 0;
  PropList *list = parser->levels.list[level];
  apr_pool_t *pool = parser->levels.pool[level];
  if (rule.kind == META_KIND_REPEAT || (rule.kind == META_KIND_SINGLE && prop_count(list, rule.slot) == 0)) {
    prop_add_instance(pool, list, rule.slot);
  }
  return 0;
}

void store_value(MetaFileParser *parser, const MetaElementRule &rule, const char *text, std::size_t length) {
  int level = meta_current_level(parser);
  if (level == 0 || rule.mode == META_VALUE_NONE || rule.slot == 0 || length == 0) return;
  apr_pool_t *pool = parser->levels.pool[level];
  const char *value = apr_pstrmemdup(pool, text, length);
  if (rule.convert != nullptr) value = rule.convert(pool, parser, value);
  meta_store(pool, parser->levels.list[level], rule.slot, rule.mode, rule.separator, value);
}

bool choose_table(XmlReader *reader, const char *root) {
  const MetaFormatTable *table = table_of_root(root);
  if (table == nullptr) {
    LOG4C(METAFILE_MODULE, LOG4C_WARN, log4c_sprintf("Unknown XML file encountered, file type is %s", root));
    meta_stop(reader->parser, APR_ENOTIMPL);
    return false;
  }
  reader->parser->table = table;
  reader->parser->format = table->format;
  build_index(reader);
  return true;
}

ElementRecord &push(XmlReader *reader, const char *name) {
  if (static_cast<int>(reader->stack.size()) <= reader->depth) reader->stack.emplace_back();
  ElementRecord &record = reader->stack[reader->depth];
  if (reader->depth == 0) {
    record.path = lower(name);
  } else {
    record.path = reader->stack[reader->depth - 1].path;
    record.path += '/';
    record.path += lower(name);
  }
  record.rows = nullptr;
  record.opened = 0;
  record.collect = false;
  record.text.clear();
  ++reader->depth;
  return record;
}

void apply_attributes(XmlReader *reader, const ElementRecord &record, const XML_Char **attributes) {
  MetaFileParser *parser = reader->parser;
  std::string key;
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    key = record.path;
    key += '@';
    key += lower(attributes[i]);
    const std::vector<short> *rows = rows_of(reader, key);
    if (rows == nullptr) continue;
    const char *value = attributes[i + 1];
    for (short row : *rows) {
      const MetaElementRule &rule = parser->table->rules[row];
      start_action(parser, rule);
      store_value(parser, rule, value, std::strlen(value));
    }
  }
}

void halt_if_stopped(XmlReader *reader) {
  if (reader->parser->stop) XML_StopParser(reader->xml.get(), XML_FALSE);
}

void on_start(void *data, const XML_Char *name, const XML_Char **attributes) {
  auto *reader = static_cast<XmlReader *>(data);
  MetaFileParser *parser = reader->parser;
  if (parser->stop) return;
  if (reader->depth == 0 && !choose_table(reader, name)) {
    halt_if_stopped(reader);
    return;
  }
  if (reader->depth >= kMaxDepth) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR,
          log4c_sprintf("XML elements nested deeper than %d levels in %s, discarding the file", kMaxDepth,
                        parser->path));
    meta_stop(parser, APR_EGENERAL);
    halt_if_stopped(reader);
    return;
  }
  ElementRecord &record = push(reader, name);
  record.rows = rows_of(reader, record.path);
  if (record.rows != nullptr) {
    for (short row : *record.rows) {
      const MetaElementRule &rule = parser->table->rules[row];
      int opened = start_action(parser, rule);
      if (opened != 0) record.opened |= 1U << opened;
      if (rule.mode != META_VALUE_NONE) record.collect = true;
    }
  }
  apply_attributes(reader, record, attributes);
  halt_if_stopped(reader);
}

void on_end(void *data, const XML_Char *) {
  auto *reader = static_cast<XmlReader *>(data);
  MetaFileParser *parser = reader->parser;
  if (parser->stop || reader->depth == 0) return;
  ElementRecord &record = reader->stack[reader->depth - 1];
  if (record.rows != nullptr) {
    std::size_t length = record.text.size();
    while (length > 0 && std::isspace(static_cast<unsigned char>(record.text[length - 1]))) --length;
    for (auto row = record.rows->rbegin(); row != record.rows->rend() && !parser->stop; ++row) {
      const MetaElementRule &rule = parser->table->rules[*row];
      store_value(parser, rule, record.text.data(), length);
      if (rule.kind >= META_KIND_LEVEL1) {
        int level = rule.kind - META_KIND_LEVEL1 + 1;
        if ((record.opened & (1U << level)) != 0) meta_level_close(parser, level);
      }
    }
  }
  --reader->depth;
  halt_if_stopped(reader);
}

// Leading white space is skipped only at the start of the text, so that
// text split around an entity or a line end keeps its inner spaces.
void on_text(void *data, const XML_Char *text, int length) {
  auto *reader = static_cast<XmlReader *>(data);
  if (reader->parser->stop || reader->depth == 0) return;
  ElementRecord &record = reader->stack[reader->depth - 1];
  if (!record.collect) return;
  int start = 0;
  if (record.text.empty()) {
    while (start < length && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  }
  std::size_t room = kMaxText - record.text.size();
  auto wanted = static_cast<std::size_t>(length - start);
  if (wanted > room) {
    if (!reader->text_cut) {
      LOG4C(METAFILE_MODULE, LOG4C_WARN,
            log4c_sprintf("XML element text longer than %d bytes in %s, the rest is ignored",
                          static_cast<int>(kMaxText), reader->parser->path));
    }
    reader->text_cut = true;
    wanted = room;
  }
  record.text.append(text + start, wanted);
}

}  // namespace

int meta_read_xml(MetaFileParser *parser) {
  XmlReader reader(parser);
  reader.xml.reset(XML_ParserCreate(nullptr));
  if (!reader.xml) {
    pool_abort(APR_ENOMEM);
    return APR_EGENERAL;
  }
  XML_Parser xml = reader.xml.get();
  XML_SetUserData(xml, &reader);
  XML_SetElementHandler(xml, on_start, on_end);
  XML_SetCharacterDataHandler(xml, on_text);
  XML_SetUnknownEncodingHandler(xml, xml_unknown_encoding_handler, reader.encoding_pool.get());
  const bool partial = (parser->options & METAFILE_OPTION_PARTIAL) != 0;
  int status = xml_parse_file_with(xml, parser->file, !partial);
  if (status == APR_EGENERAL) return APR_EGENERAL;
  if (parser->stop || partial) return parser->result;
  meta_levels_close_all(parser);
  return parser->stop ? parser->result : APR_SUCCESS;
}
