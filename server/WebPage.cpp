// The web page's handlers and its status document.
#include "WebPage.h"

#include <cstdio>

#include "ClientList.h"
#include "CommonUserLog.h"
#include "FolderWatch.h"
#include "MSDBHelper.h"
#include "ServerContext.h"
#include "log4c_pool.h"

namespace {

// Items (not containers) that came from the source.
constexpr const char *kItemCountSql =
    "select count(*) from objms m join prop p on p.objectOid=m.objectOid "
    "join propName n on n.oid=p.nameOid and n.name='upnp:class' join propValue v on v.oid=p.valueOid "
    "where m.sourceOid=%s and v.value like 'object.item%%'";

std::string millis(apr_time_t time) { return std::to_string(time / 1000); }

std::string item_count(apr_pool_t *pool, MediaLibraryDB *db, const std::string &oid) {
  DBThreadConnection *conn = msdb_connection_or_log(db);
  const char *value = nullptr;
  if (conn == nullptr || !db_oid_valid(oid.c_str()) ||
      db_select_value(pool, conn->medialib, db_sql(pool, kItemCountSql, oid.c_str()), &value, nullptr) !=
          APR_SUCCESS || value == nullptr) {
    return "null";
  }
  return value;
}

void add_sources(std::string &out, apr_pool_t *pool, ServerContext *server) {
  out += "\"sources\":[";
  const char *comma = "";
  for (const WatchedSource &s : folder_watch_sources(server->folders)) {
    out += comma;
    comma = ",";
    out += "{\"name\":" + json_string(s.name) + ",\"url\":" + json_string(s.url) + ",\"type\":" +
           json_string(s.type) + ",\"how\":" + json_string(s.how) + ",\"items\":" + item_count(pool, server->db, s.oid) +
           ",\"lastRefresh\":" + millis(s.last_refresh) + ",\"added\":" + std::to_string(s.last_added) +
           ",\"removed\":" + std::to_string(s.last_removed) + ",\"failed\":" + (s.failed ? "true" : "false") + "}";
  }
  out += "]";
}

void add_log_entry(const UserLogEntry &entry, void *context) {
  auto &out = *static_cast<std::string *>(context);
  if (out.back() != '[') out += ",";
  const char *category = user_log_category_name(entry.category);
  out += "{\"time\":" + millis(entry.time) + ",\"category\":" + json_string(category ? category : "") +
         ",\"text\":" + json_string(entry.text) + "}";
}

void add_clients(std::string &out) {
  out += "\"clients\":[";
  const char *comma = "";
  for (const SeenClient &c : client_list()) {
    out += comma;
    comma = ",";
    out += "{\"address\":" + json_string(c.address) + ",\"agent\":" + json_string(c.agent) +
           ",\"lastSeen\":" + millis(c.last_seen) + ",\"requests\":" + std::to_string(c.requests) + "}";
  }
  out += "]";
}

void add_interfaces(std::string &out, const ServerContext *server) {
  out += "\"interfaces\":[";
  const char *comma = "";
  for (const ServedInterface &i : server->interfaces) {
    out += comma;
    comma = ",";
    out += "{\"name\":" + json_string(i.name) + ",\"address\":" + json_string(i.address) + "}";
  }
  out += "]";
}

}  // namespace

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void web_page(void *, HttpServerRequest &, HttpResponse &response) {
  response.content_type = "text/html; charset=utf-8";
  response.headers = {{"Content-Security-Policy", "default-src 'self'; script-src 'unsafe-inline' 'self'; "
                                                   "style-src 'unsafe-inline'; img-src 'self'"},
                      {"X-Content-Type-Options", "nosniff"}};
  response.body = WEB_PAGE_DOCUMENT;
}

void web_status(void *context, HttpServerRequest &request, HttpResponse &response) {
  auto *server = static_cast<ServerContext *>(context);
  std::string out = "{\"server\":{\"uuid\":" + json_string(server->uuid) +
                    ",\"updateId\":" + std::to_string(server->system_update_id.load()) + "},";
  add_sources(out, request.pool, server);
  out += ",\"log\":[";
  user_log_for_each(add_log_entry, &out);
  out += "],";
  add_clients(out);
  out += ",";
  add_interfaces(out, server);
  out += "}";
  response.content_type = "application/json";
  response.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
  response.body = std::move(out);
}
