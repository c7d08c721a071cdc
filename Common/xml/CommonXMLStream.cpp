// Streaming reads through expat, and single-byte encodings expat does not
// know itself. Blocks of 4096 bytes keep large files (tens of megabytes) out
// of memory.
#include <apr_file_io.h>
#include <apr_xlate.h>

#include <memory>

#include "CommonCancel.h"
#include "CommonUserMessage.h"
#include "CommonXML.h"
#include "CommonXMLInternal.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr apr_size_t kBlockSize = 4096;
constexpr const char *kBadFileUserText = "Bad XML file encountered, skipping...";
// Each byte is converted to one UTF-16 unit in host order (the values expat's
// map takes); the name is the one glibc's iconv knows.
constexpr const char *kUnitEncoding = "UCS-2LE";

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using ParserOwner = std::unique_ptr<XML_ParserStruct, ParserFree>;

int feed_blocks(XML_Parser parser, apr_file_t *file, const char *path, bool whole) {
  char block[kBlockSize];
  for (;;) {
    apr_size_t length = sizeof block;
    apr_status_t status = apr_file_read(file, block, &length);
    if (status == APR_EOF) break;
    if (status != APR_SUCCESS) {
      LOG4C(kXmlModule, LOG4C_ERROR, log4c_sprintf("Could not read %s", path));
      return APR_EGENERAL;
    }
    if (XML_Parse(parser, block, static_cast<int>(length), 0) == XML_STATUS_ERROR) {
      XML_Error code = XML_GetErrorCode(parser);
      if (code == XML_ERROR_ABORTED) return COMMON_CANCELLED;
      LOG4C_EX(kXmlModule, LOG4C_ERROR,
               log4c_sprintf("Could not feed data to XML parser, error code %d, reason: %s, file: %s",
                             static_cast<int>(code), XML_ErrorString(code), path),
               LOG4C_ERROR, kBadFileUserText);
      return APR_EGENERAL;
    }
  }
  if (whole && XML_Parse(parser, "", 0, 1) == XML_STATUS_ERROR) {
    XML_Error code = XML_GetErrorCode(parser);
    if (code == XML_ERROR_ABORTED) return COMMON_CANCELLED;
    LOG4C(kXmlModule, LOG4C_ERROR,
          log4c_sprintf("Could not finish XML parsing, error code %d, reason: %s", static_cast<int>(code),
                        XML_ErrorString(code)));
    return APR_EGENERAL;
  }
  return APR_SUCCESS;
}

// Converts one byte to its UTF-16 unit. Returns 1 with *unit set, 0 when the
// code page does not define the byte, -1 on an impossible result.
int convert_byte(apr_xlate_t *convset, unsigned char byte, int *unit) {
  char in = static_cast<char>(byte);
  unsigned char out[8];
  apr_size_t in_left = 1;
  apr_size_t out_left = sizeof out;
  apr_status_t status = apr_xlate_conv_buffer(convset, &in, &in_left, reinterpret_cast<char *>(out), &out_left);
  apr_size_t written = sizeof out - out_left;
  if (status != APR_SUCCESS || in_left != 0 || written == 0) return 0;
  if (written > 4) return -1;
  *unit = out[0] | (written > 1 ? out[1] << 8 : 0);
  return 1;
}

}  // namespace

int xml_parse_file_stream(const char *path, XML_StartElementHandler start, XML_EndElementHandler end,
                          XML_CharacterDataHandler characters, XML_UnknownEncodingHandler encoding,
                          void *user_data) {
  Pool pool(nullptr, kXmlModule);
  ParserOwner parser(XML_ParserCreate(nullptr));
  if (!parser) {
    pool_abort(APR_ENOMEM);
    return APR_EGENERAL;
  }
  XML_SetUserData(parser.get(), user_data);
  XML_SetElementHandler(parser.get(), start, end);
  XML_SetCharacterDataHandler(parser.get(), characters);
  if (encoding != nullptr) {
    XML_SetUnknownEncodingHandler(parser.get(), encoding, user_data);
  } else {
    XML_SetUnknownEncodingHandler(parser.get(), xml_unknown_encoding_handler, pool.get());
  }
  int result = xml_parse_file_with(parser.get(), path);
  return result == COMMON_CANCELLED ? APR_SUCCESS : result;
}

int xml_parse_file_with(XML_Parser parser, const char *path, bool whole) {
  Pool pool(nullptr, kXmlModule);
  apr_file_t *file = nullptr;
  apr_status_t status = apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_OS_DEFAULT, pool);
  if (status != APR_SUCCESS) {
    xml_log_file_error("Unable to open xml file (%s), reason: %s", path, status);
    return APR_EGENERAL;
  }
  int result = feed_blocks(parser, file, path, whole);
  status = apr_file_close(file);
  if (status != APR_SUCCESS) xml_log_file_error("Unable to close xml file (%s), reason: %s", path, status);
  return result;
}

int xml_unknown_encoding_handler(void *data, const XML_Char *name, XML_Encoding *info) {
  auto *pool = static_cast<apr_pool_t *>(data);
  apr_xlate_t *convset = nullptr;
  if (apr_xlate_open(&convset, kUnitEncoding, name, pool) != APR_SUCCESS) {
    LOG4C(kXmlModule, LOG4C_ERROR, "Could not initialize conversion to utf8");
    return 0;
  }
  for (int byte = 0; byte < 128; ++byte) info->map[byte] = byte;
  for (int byte = 128; byte < 256; ++byte) {
    int unit = 0;
    int converted = convert_byte(convset, static_cast<unsigned char>(byte), &unit);
    if (converted < 0) {
      LOG4C(kXmlModule, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
      apr_xlate_close(convset);
      return 0;
    }
    if (converted == 0) {
      LOG4C(kXmlModule, LOG4C_WARN, log4c_sprintf("Could not convert %c from %s to utf8", byte, name));
    }
    info->map[byte] = unit;
  }
  if (apr_xlate_close(convset) != APR_SUCCESS) {
    LOG4C(kXmlModule, LOG4C_ERROR, "Could not cleanup conversion to utf8");
    return 0;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return 1;
}
