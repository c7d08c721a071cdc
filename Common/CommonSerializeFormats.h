// The fixed texts of each serializer format: record element, document
// header and footer, and the inner header and footer around the records.
// Constant data shared by the record builder and the writer.
#pragma once

#include <array>

#include "CommonSerialize.h"

struct SerializeFormatTexts {
  const char *element;
  const char *header;
  const char *inner_header;
  const char *inner_footer;
  const char *footer;
};

// The prefixes the records use, declared on the root element of every
// document so that each is namespace-well-formed, not only DIDL-Lite.
#define SERIALIZE_PREFIXES                          \
  " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"" \
  " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""

inline constexpr const char *kXhtmlMobilePrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\t"
    "<!DOCTYPE html PUBLIC \"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" "
    "\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\">\t "
    "<html xmlns=\"http://www.w3.org/1999/xhtml\"" SERIALIZE_PREFIXES ">\t "
    "<head></head><body>";

inline constexpr std::array<SerializeFormatTexts, 9> kSerializeFormats = {{
    {nullptr, "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"" SERIALIZE_PREFIXES ">", "", "",
     "</DIDL-Lite>"},
    {"result", "<resultset" SERIALIZE_PREFIXES ">", "", "", "</resultset>"},
    {nullptr, "", "", "", ""},
    {"div", kXhtmlMobilePrologue, "", "", "</body></html>"},
    {"li", kXhtmlMobilePrologue, "<ul class=\"medialist\">", "</ul>", "</body></html>"},
    {"item", "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\t <rss version=\"2.0\"" SERIALIZE_PREFIXES ">", "", "",
     "</rss>"},
    {"entry",
     "<ASX VERSION=\"3.0\"" SERIALIZE_PREFIXES ">\t<param name=\"encoding\" value=\"utf-8\"/>"
     "    <ABSTRACT>Zentoria generated ASX playlist</ABSTRACT>"
     "    <MoreInfo href=\"http://www.zentoria.com/\"/>",
     "", "", "</ASX>"},
    {"par", "<smil" SERIALIZE_PREFIXES "><head></head><body><seq>", "", "", "</seq></body></smil>"},
    {nullptr, "", "", "", ""},
}};
