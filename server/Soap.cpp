// Envelope reading over expat and envelope writing.
#include "Soap.h"

#include <expat.h>

#include <cstring>
#include <memory>

namespace {

constexpr char kSeparator = ' ';  // between namespace and local name in expat's names
constexpr std::size_t kMaxArguments = 32;
constexpr const char *kEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";

struct Reader {
  XML_Parser parser = nullptr;
  SoapAction *action = nullptr;
  int depth = 0;
  bool in_envelope = false, in_body = false, refused = false, overflow = false;
  std::string argument;  // the argument being read (depth 4)
  std::string text;
};

void split(const char *name, std::string *ns, std::string *local) {
  const char *space = std::strchr(name, kSeparator);
  *ns = space != nullptr ? std::string(name, space) : std::string();
  *local = space != nullptr ? std::string(space + 1) : std::string(name);
}

void XMLCALL start(void *data, const XML_Char *name, const XML_Char **) {
  auto *r = static_cast<Reader *>(data);
  std::string ns, local;
  split(name, &ns, &local);
  ++r->depth;
  if (r->depth == 1) r->in_envelope = ns == kEnvelopeNs && local == "Envelope";
  if (r->depth == 2 && r->in_envelope) r->in_body = ns == kEnvelopeNs && local == "Body";
  if (r->depth == 3 && r->in_body && r->action->name.empty()) {
    r->action->service = ns;
    r->action->name = local;
  }
  if (r->depth == 4 && r->in_body) {
    r->argument = local;
    r->text.clear();
  }
}

void XMLCALL end(void *data, const XML_Char *) {
  auto *r = static_cast<Reader *>(data);
  if (r->depth == 4 && r->in_body && !r->argument.empty()) {
    if (r->action->arguments.size() >= kMaxArguments) {
      r->overflow = true;
      XML_StopParser(r->parser, XML_FALSE);
    }
    r->action->arguments[r->argument] = r->text;
    r->argument.clear();
  }
  if (r->depth == 2) r->in_body = false;
  --r->depth;
}

void XMLCALL characters(void *data, const XML_Char *text, int length) {
  auto *r = static_cast<Reader *>(data);
  if (r->depth == 4 && r->in_body) r->text.append(text, static_cast<std::size_t>(length));
}

void XMLCALL doctype(void *data, const XML_Char *, const XML_Char *, const XML_Char *, int) {
  auto *r = static_cast<Reader *>(data);
  r->refused = true;
  XML_StopParser(r->parser, XML_FALSE);
}

void XMLCALL entity(void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *, const XML_Char *,
                    const XML_Char *, const XML_Char *) {
  doctype(data, nullptr, nullptr, nullptr, 0);
}

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

constexpr const char *kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr const char *kEnvelopeEnd = "</s:Body></s:Envelope>\n";

}  // namespace

std::string soap_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

SoapParse soap_parse(const std::string &body, SoapAction *action) {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS(nullptr, kSeparator));
  if (!parser) return SoapParse::malformed;
  Reader reader;
  reader.parser = parser.get();
  reader.action = action;
  XML_SetUserData(parser.get(), &reader);
  XML_SetElementHandler(parser.get(), start, end);
  XML_SetCharacterDataHandler(parser.get(), characters);
  XML_SetStartDoctypeDeclHandler(parser.get(), doctype);
  XML_SetEntityDeclHandler(parser.get(), entity);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  const XML_Status status = XML_Parse(parser.get(), body.data(), static_cast<int>(body.size()), XML_TRUE);
  if (reader.refused) return SoapParse::refused_dtd;
  if (status != XML_STATUS_OK || reader.overflow || action->name.empty()) return SoapParse::malformed;
  return SoapParse::ok;
}

std::string soap_response(const std::string &service, const std::string &action,
                          const std::pair<const char *, std::string> *outputs, int count) {
  std::string out = kEnvelopeStart;
  out += "<u:" + action + "Response xmlns:u=\"" + soap_escape(service) + "\">";
  for (int i = 0; i < count; ++i) {
    out += std::string("<") + outputs[i].first + ">" + soap_escape(outputs[i].second) + "</" + outputs[i].first + ">";
  }
  return out + "</u:" + action + "Response>" + kEnvelopeEnd;
}

std::string soap_fault(int code, const char *description) {
  return std::string(kEnvelopeStart) +
         "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
         "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
         std::to_string(code) + "</errorCode><errorDescription>" + soap_escape(description) +
         "</errorDescription></UPnPError></detail></s:Fault>" + kEnvelopeEnd;
}
