// Reading SOAP action requests (and refusing what is not one) and reading
// Range headers: the two parsers of untrusted text in front of the library.
#include <gtest/gtest.h>

#include "Media.h"
#include "Soap.h"

TEST(Soap, ActionsAreReadAndDocumentTypesRefused) {
  const std::string envelope = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  struct Case {
    std::string body;
    SoapParse result;
    const char *action;
  };
  const Case cases[] = {
      {envelope + "<u:Browse xmlns:u=\"urn:x:1\"><ObjectID>0/1</ObjectID><Filter>a &amp; b</Filter></u:Browse>"
                  "</s:Body></s:Envelope>",
       SoapParse::ok, "Browse"},
      {envelope + "</s:Body></s:Envelope>", SoapParse::malformed, ""},
      {"<Envelope><Body><Browse/></Body></Envelope>", SoapParse::malformed, ""},
      {envelope + "<u:Browse xmlns:u=\"urn:x:1\">", SoapParse::malformed, "Browse"},
      {"<!DOCTYPE s [<!ENTITY a \"b\">]>" + envelope + "<u:B xmlns:u=\"u\">&a;</u:B></s:Body></s:Envelope>",
       SoapParse::refused_dtd, ""},
      {"<!DOCTYPE s SYSTEM \"file:///etc/passwd\">" + envelope + "</s:Body></s:Envelope>", SoapParse::refused_dtd,
       ""},
  };
  for (const Case &c : cases) {
    SoapAction action;
    EXPECT_EQ(soap_parse(c.body, &action), c.result) << c.body;
    EXPECT_EQ(action.name, c.action) << c.body;
  }
  SoapAction action;
  ASSERT_EQ(soap_parse(cases[0].body, &action), SoapParse::ok);
  EXPECT_EQ(action.service, "urn:x:1");
  EXPECT_EQ(action.arguments["ObjectID"], "0/1");
  EXPECT_EQ(action.arguments["Filter"], "a & b");
  // A DIDL-Lite document travels escaped once more inside the envelope.
  EXPECT_EQ(soap_escape("<a t=\"&lt;\">"), "&lt;a t=&quot;&amp;lt;&quot;&gt;");
}

TEST(MediaRange, SingleRangesAreReadAndOthersAskForTheWholeFile) {
  struct Case {
    const char *header;
    ByteRange::Kind kind;
    apr_uint64_t first, length;
  };
  const Case cases[] = {
      {nullptr, ByteRange::whole, 0, 1000},
      {"bytes=0-99", ByteRange::part, 0, 100},
      {"bytes=900-", ByteRange::part, 900, 100},
      {"bytes=-10", ByteRange::part, 990, 10},
      {"bytes=-5000", ByteRange::part, 0, 1000},
      {"bytes=500-99999", ByteRange::part, 500, 500},
      {"bytes=1000-", ByteRange::unsatisfiable, 0, 0},
      {"bytes=-0", ByteRange::unsatisfiable, 0, 0},
      {"bytes=5-2", ByteRange::whole, 0, 1000},
      {"bytes=0-1,5-6", ByteRange::whole, 0, 1000},
      {"bytes=99999999999999999999999-", ByteRange::whole, 0, 1000},
      {"items=0-1", ByteRange::whole, 0, 1000},
      {"bytes=x-1", ByteRange::whole, 0, 1000},
  };
  for (const Case &c : cases) {
    const ByteRange r = media_range(c.header, 1000);
    EXPECT_EQ(r.kind, c.kind) << (c.header ? c.header : "none");
    if (r.kind != ByteRange::unsatisfiable) {
      EXPECT_EQ(r.first, c.first) << (c.header ? c.header : "none");
      EXPECT_EQ(r.length, c.length) << (c.header ? c.header : "none");
    }
  }
}
