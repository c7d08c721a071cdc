// Soap: the SOAP envelopes of UPnP control: reading an action request with
// expat (no DTD, no entity declarations: a document that has one is refused
// before anything in it is expanded) and writing responses and UPnP faults.
// Requests are at most HTTP_MAX_BODY bytes; the parse is bounded by them.
// Pure functions; any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>

struct SoapAction {
  std::string service;  // the action element's namespace: the service type
  std::string name;
  std::map<std::string, std::string> arguments;  // name -> text
};

enum class SoapParse { ok, malformed, refused_dtd };

// Reads the action of an envelope. malformed: not XML, or no action inside
// Envelope/Body; refused_dtd: a document type or entity declaration.
SoapParse soap_parse(const std::string &body, SoapAction *action);

// The response envelope of action in service, with the output arguments in
// order (values escaped here).
std::string soap_response(const std::string &service, const std::string &action,
                          const std::pair<const char *, std::string> *outputs, int count);

// text with &, <, > and " written as entities, every time (a text that
// already holds entities, such as a DIDL-Lite document, is escaped again).
std::string soap_escape(std::string_view text);

// A UPnP error as the fault envelope (sent with HTTP status 500).
std::string soap_fault(int code, const char *description);
