// What the feed formats need beyond their tables before an entry is handed
// on: guids made from titles, credits turned into role properties, Atom
// summaries, and the RSS enclosure rules (an image enclosure beside a media
// enclosure is the item's icon, not a second entry; alone, it is the media
// of a feed of pictures). Runs on the parse's
// thread, on the level lists of the parse.
#include <apr_strings.h>

#include <cstring>
#include <strings.h>
#include <vector>

#include "CommonMetaFileInternal.h"
#include "log4c.h"

namespace {

struct CreditRole {
  const char *role;  // null: a credit without a role
  int slot;
};

constexpr CreditRole kCreditRoles[] = {
    {nullptr, PROP_DC_CREATOR},          {"actor", PROP_UPNP_ACTOR},
    {"author", PROP_UPNP_AUTHOR},        {"director", PROP_UPNP_DIRECTOR},
    {"producer", PROP_UPNP_PRODUCER},    {"publishing company", PROP_DC_PUBLISHER},
    {"artist", PROP_UPNP_ARTIST},        {"performer", PROP_UPNP_ARTIST},
    {"dancer", PROP_UPNP_ARTIST},        {"musician", PROP_UPNP_ARTIST},
    {"photographer", PROP_UPNP_ARTIST},  {"singer", PROP_UPNP_ARTIST},
};

constexpr const char *kCreditScheme = "urn:ebu";
constexpr const char *kFeedMimeType = "application/rss+xml";
constexpr const char *kEnclosureMark = "(enclosure)";

int credit_slot(const char *role) {
  for (const CreditRole &row : kCreditRoles) {
    if (row.role == nullptr ? role == nullptr : role != nullptr && strcasecmp(row.role, role) == 0) return row.slot;
  }
  return 0;
}

const char *value_of(const MetaFileParser *parser, int level, int slot, int instance = 0) {
  return prop_get(parser->levels.pool[level], parser->levels.list[level], slot, instance);
}

// A container or item with a title and no guid is known by its title.
void identity(MetaFileParser *parser, int level) {
  apr_pool_t *pool = parser->levels.pool[level];
  PropList *list = parser->levels.list[level];
  if (value_of(parser, level, PROP_ZENTORIA_GUID) != nullptr) return;
  const char *title = value_of(parser, level, PROP_DC_TITLE);
  if (title == nullptr) return;
  const char *guid = apr_pstrcat(pool, level == 1 ? "container" : "item", title, nullptr);
  meta_store(pool, list, PROP_ZENTORIA_GUID, META_VALUE_SET, nullptr, guid);
}

struct Credit {
  const char *value;
  const char *scheme;
  const char *role;
};

// Credits of the EBU scheme (or of none) become properties chosen by their
// role; the pass ends at the first role it does not know, and that credit
// and the ones after it stay credits.
void credits(MetaFileParser *parser, int level) {
  apr_pool_t *pool = parser->levels.pool[level];
  PropList *list = parser->levels.list[level];
  int count = prop_count(list, PROP_ZENTORIA_CREDIT);
  if (count == 0) return;
  std::vector<Credit> kept;
  bool converting = true;
  for (int i = 0; i < count; ++i) {
    Credit credit = {value_of(parser, level, PROP_ZENTORIA_CREDIT, i),
                     value_of(parser, level, PROP_ZENTORIA_CREDIT_SCHEME, i),
                     value_of(parser, level, PROP_ZENTORIA_CREDIT_ROLE, i)};
    bool ours = credit.scheme == nullptr || strcasecmp(credit.scheme, kCreditScheme) == 0;
    int slot = converting && ours ? credit_slot(credit.role) : 0;
    if (converting && ours && slot == 0) converting = false;
    if (slot == 0) {
      kept.push_back(credit);
      continue;
    }
    if (credit.value != nullptr) prop_add(pool, list, slot, credit.value);
  }
  if (static_cast<int>(kept.size()) == count) return;
  prop_remove_all(pool, list, PROP_ZENTORIA_CREDIT, PROP_ZENTORIA_CREDIT_ROLE + 1);
  for (const Credit &credit : kept) {
    prop_add_instance(pool, list, PROP_ZENTORIA_CREDIT);
    if (credit.value != nullptr) prop_set(pool, list, PROP_ZENTORIA_CREDIT, credit.value);
    if (credit.scheme != nullptr) prop_set(pool, list, PROP_ZENTORIA_CREDIT_SCHEME, credit.scheme);
    if (credit.role != nullptr) prop_set(pool, list, PROP_ZENTORIA_CREDIT_ROLE, credit.role);
  }
}

bool starts_with(const char *text, const char *prefix) {
  return text != nullptr && strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_image_enclosure(const char *mime) {
  return starts_with(mime, "image/") && std::strstr(mime, kEnclosureMark) != nullptr;
}

}  // namespace

void meta_fixup_rss(MetaFileParser *parser, int level) {
  identity(parser, level);
  if (level == 3 && value_of(parser, 3, PROP_RES) == nullptr) {
    if (const char *relation = value_of(parser, 3, PROP_DC_RELATION)) {
      meta_store(parser->levels.pool[3], parser->levels.list[3], PROP_RES, META_VALUE_SET, nullptr, relation);
    }
  }
  if (level > 1) credits(parser, level);
}

void meta_fixup_rdf(MetaFileParser *parser, int level) { identity(parser, level); }

void meta_fixup_atom(MetaFileParser *parser, int level) {
  if (level == 1) return;
  credits(parser, level);
  if (value_of(parser, level, PROP_DC_DESCRIPTION) == nullptr) {
    if (const char *longer = value_of(parser, level, PROP_UPNP_LONG_DESCRIPTION)) {
      meta_store(parser->levels.pool[level], parser->levels.list[level], PROP_DC_DESCRIPTION, META_VALUE_SET, nullptr,
                 longer);
    }
  }
}

void meta_fixup_rss_subitems(MetaFileParser *parser) {
  if ((parser->options & METAFILE_OPTION_ENCLOSURES) == 0) return;
  int count = parser->subitem_count;
  for (int i = 0; i < count; ++i) {
    if (prop_count(parser->subitems[i], PROP_RES) > 1) return;
  }
  auto mime_of = [parser](int i) {
    return prop_get(parser->subitem_pools[i], parser->subitems[i], PROP_RES_MIME_TYPE, 0);
  };
  int image = -1;
  for (int i = 0; i < count; ++i) {
    if (is_image_enclosure(mime_of(i))) image = i;
  }
  int media = -1;
  for (int i = 0; i < count; ++i) {
    const char *mime = mime_of(i);
    if (i != image && (mime == nullptr || !starts_with(mime, kFeedMimeType))) media = i;
  }
  if (image < 0) return;
  // A picture that is the entry's only media is what a feed of pictures
  // shares, not the cover of something else.
  if (media < 0 && (parser->options & METAFILE_OPTION_PICTURES) != 0) return;
  apr_pool_t *item_pool = parser->levels.pool[2];
  PropList *item = parser->levels.list[2];
  apr_pool_t *image_pool = parser->subitem_pools[image];
  PropList *image_list = parser->subitems[image];
  const char *url = prop_get(image_pool, image_list, PROP_RES, 0);
  if (prop_delete(image_pool, image_list, PROP_RES, PROP_RES_LAST_TIME_POSITION_MOST_RECENT + 1, 0) != 0) {
    LOG4C(METAFILE_MODULE, LOG4C_WARN, "could not delete property - ignoring");
  }
  if (url != nullptr && prop_get(item_pool, item, PROP_UPNP_ICON, 0) == nullptr) {
    meta_store(item_pool, item, PROP_UPNP_ICON, META_VALUE_SET, nullptr, apr_pstrdup(item_pool, url));
  }
  if (media >= 0) return;
  if (const char *relation = prop_get(item_pool, item, PROP_DC_RELATION, 0)) {
    meta_store(image_pool, image_list, PROP_RES, META_VALUE_SET, nullptr, apr_pstrdup(image_pool, relation));
  }
}
