// Texts from names and tags on their way into documents: entity escaping
// and URL encoding round-trip, and a record holding the text as a value and
// as an attribute serializes into a document that parses as XML.
#include <expat.h>

#include <cstring>

#include "CommonEscape.h"
#include "CommonSerialize.h"
#include "FuzzSupport.h"
#include "log4c_pool.h"

namespace {

bool parses_as_xml(const char *document) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  const bool ok = XML_Parse(parser, document, static_cast<int>(std::strlen(document)), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Pool pool(fuzz_pool(), "fuzz");
  const std::string text = fuzz_text(data, size);
  const char *escaped = xml_escape(pool, text.c_str());
  fuzz_check(std::strcmp(xml_escape(pool, escaped), escaped) == 0, "escaping is not idempotent", text);
  if (text.size() < 1000) {
    const char *encoded = url_encode(pool, text.c_str(), 0);
    fuzz_check(std::strcmp(url_decode(pool, encoded), text.c_str()) == 0, "URL encoding round trip", text);
  }
  SerializeBuffer *buffer = serialize_create(pool, FORMAT_DIDL_LITE);
  serialize_new_record(buffer, nullptr);
  serialize_add_escaped(buffer, "@id", 0, "0/1");
  serialize_add_escaped(buffer, "upnp:class", 0, "object.item.audioItem");
  serialize_add_escaped(buffer, "dc:title", 0, text.c_str());
  serialize_add_escaped(buffer, "res", 0, text.c_str());
  serialize_add_escaped(buffer, "res@protocolInfo", 0, text.c_str());
  const char *document = nullptr;
  serialize_output(buffer, pool, nullptr, &document);
  fuzz_check(parses_as_xml(document), "document does not parse as XML", text);
  return 0;
}
