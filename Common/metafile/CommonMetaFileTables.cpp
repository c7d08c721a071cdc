// The element tables of the five XML formats. A row maps an element or
// attribute path to what it opens or fills; rows are visited in table order
// at an element's start and in reverse order at its end, so a row that opens
// a level comes before the rows that fill it. Adding an element is adding a
// row. Constant data; safe from any thread.
#include "CommonMetaFileInternal.h"

namespace {

// Shorthands that keep each row on one line.
constexpr int kValue = META_KIND_VALUE;
constexpr int kSingle = META_KIND_SINGLE;
constexpr int kRepeat = META_KIND_REPEAT;
constexpr int kOpen1 = META_KIND_LEVEL1;
constexpr int kOpen2 = META_KIND_LEVEL2;
constexpr int kOpen3 = META_KIND_LEVEL3;
constexpr int kNone = META_VALUE_NONE;
constexpr int kSet = META_VALUE_SET;
constexpr int kAppend = META_VALUE_APPEND;
constexpr int kIfAbsent = META_VALUE_IF_ABSENT;

// The Media RSS elements, read both inside a media:content (or at the
// channel or feed level) and inside a media:group (or at the item level).
#define MEDIA_RSS_BLOCK(prefix)                                                              \
  {prefix "media:adult", kSingle, kSet, PROP_UPNP_RATING, meta_adult_rule, nullptr},         \
      {prefix "media:rating", kSingle, kAppend, PROP_UPNP_RATING, meta_rating_rule, " "},    \
      {prefix "media:rating@scheme", kSingle, kSet, PROP_UPNP_RATING, meta_scheme_rule, nullptr}, \
      {prefix "media:title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},                \
      {prefix "media:description", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr}, \
      {prefix "media:keywords", kRepeat, kSet, PROP_ZENTORIA_KEYWORDS, nullptr, nullptr},    \
      {prefix "media:thumbnail@url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},       \
      {prefix "media:category", kRepeat, kSet, PROP_UPNP_GENRE, meta_category_rule, nullptr}, \
      {prefix "media:copyright", kSingle, kSet, PROP_DC_RIGHTS, nullptr, nullptr},           \
      {prefix "media:credit", kRepeat, kSet, PROP_ZENTORIA_CREDIT, nullptr, nullptr},        \
      {prefix "media:credit@role", kValue, kSet, PROP_ZENTORIA_CREDIT_ROLE, nullptr, nullptr}, \
      {prefix "media:credit@scheme", kValue, kSet, PROP_ZENTORIA_CREDIT_SCHEME, nullptr, nullptr}

// The attributes of a Media RSS content element.
#define MEDIA_CONTENT_ATTRIBUTES(path)                                                  \
  {path "@url", kValue, kSet, PROP_RES, nullptr, nullptr},                             \
      {path "@type", kValue, kSet, PROP_RES_MIME_TYPE, nullptr, nullptr},              \
      {path "@fileSize", kValue, kSet, PROP_RES_SIZE, nullptr, nullptr},               \
      {path "@bitrate", kValue, kSet, PROP_RES_BITRATE, nullptr, nullptr},             \
      {path "@framerate", kValue, kSet, PROP_RES_VIDEO_FPS, nullptr, nullptr},         \
      {path "@samplingrate", kValue, kSet, PROP_RES_SAMPLE_FREQUENCY, nullptr, nullptr}, \
      {path "@channels", kValue, kSet, PROP_RES_NR_AUDIO_CHANNELS, nullptr, nullptr},  \
      {path "@duration", kValue, kSet, PROP_RES_DURATION, meta_duration, nullptr},     \
      {path "@lang", kValue, kSet, PROP_RES_LANGUAGE, nullptr, nullptr},               \
      {path "@medium", kValue, kSet, PROP_RES_MEDIUM, nullptr, nullptr}

constexpr MetaElementRule kRssRules[] = {
    {"rss/channel", kOpen1, kNone, 0, nullptr, nullptr},
    {"rss/channel/language", kSingle, kSet, PROP_DC_LANGUAGE, nullptr, nullptr},
    {"rss/channel/rating", kSingle, kSet, PROP_UPNP_RATING, nullptr, nullptr},
    {"rss/channel/lastBuildDate", kSingle, kSet, PROP_ZENTORIA_MOD_DATE_TIME, meta_rfc822_to_usec, nullptr},
    {"rss/channel/image/url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"rss/channel/copyright", kRepeat, kSet, PROP_DC_RIGHTS, nullptr, nullptr},
    {"rss/channel/item", kOpen2, kNone, 0, nullptr, nullptr},
    {"rss/channel/[item/]title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"rss/channel/[item/]description", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"rss/channel/[item/]description", kValue, kIfAbsent, PROP_UPNP_ICON, meta_first_image, nullptr},
    {"rss/channel/[item/]pubDate", kSingle, kSet, PROP_DC_DATE, meta_date_only, nullptr},
    {"rss/channel/[item/]dc:date", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    {"rss/channel/[item/]category", kRepeat, kSet, PROP_UPNP_GENRE, nullptr, nullptr},
    {"rss/channel/[item/]guid", kSingle, kSet, PROP_ZENTORIA_GUID, nullptr, nullptr},
    {"rss/channel/item/enclosure", kOpen3, kNone, 0, nullptr, nullptr},
    {"rss/channel/item/enclosure", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"rss/channel/item/enclosure@url", kValue, kSet, PROP_RES, nullptr, nullptr},
    {"rss/channel/item/enclosure@length", kValue, kSet, PROP_RES_SIZE, nullptr, nullptr},
    {"rss/channel/item/enclosure@type", kValue, kSet, PROP_RES_MIME_TYPE, meta_mark_enclosure, nullptr},
    {"rss/channel/item/enclosure@duration", kValue, kSet, PROP_RES_DURATION, meta_duration, nullptr},
    {"rss/channel/item/dc:subject", kRepeat, kSet, PROP_UPNP_GENRE, nullptr, nullptr},
    {"rss/channel/item/author", kRepeat, kSet, PROP_UPNP_AUTHOR, nullptr, nullptr},
    {"rss/channel/item/dc:creator", kRepeat, kSet, PROP_DC_CREATOR, nullptr, nullptr},
    {"rss/channel/item/m1Image/url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"rss/channel/[item/]link", kRepeat, kSet, PROP_DC_RELATION, nullptr, nullptr},
    {"rss/channel/itunes:category", kRepeat, kNone, PROP_UPNP_GENRE, nullptr, nullptr},
    {"rss/channel/itunes:category@text", kValue, kSet, PROP_UPNP_GENRE, nullptr, nullptr},
    {"rss/channel/itunes:category/itunes:category@text", kValue, kAppend, PROP_UPNP_GENRE, nullptr, "."},
    {"rss/channel/itunes:category/itunes:category/itunes:category@text", kValue, kAppend, PROP_UPNP_GENRE, nullptr,
     "."},
    {"rss/channel/itunes:duration", kRepeat, kSet, PROP_RES_DURATION, meta_duration, nullptr},
    {"rss/channel/itunes:owner", kRepeat, kSet, PROP_DC_CREATOR, nullptr, nullptr},
    {"rss/channel/[item/]itunes:author", kRepeat, kSet, PROP_UPNP_AUTHOR, nullptr, nullptr},
    {"rss/channel/[item/]itunes:explicit", kSingle, kSet, PROP_UPNP_RATING, meta_explicit_rule, nullptr},
    {"rss/channel/[item/]itunes:keywords", kRepeat, kSet, PROP_ZENTORIA_KEYWORDS, nullptr, nullptr},
    {"rss/channel/[item/]itunes:subtitle", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"rss/channel/[item/]itunes:summary", kSingle, kSet, PROP_UPNP_LONG_DESCRIPTION, meta_strip_tags, nullptr},
    {"rss/channel/[item/]itunes:image@href", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    MEDIA_RSS_BLOCK("rss/channel/[item/media:content/]"),
    MEDIA_RSS_BLOCK("rss/channel/item/[media:group/]"),
    {"rss/channel/item/media:content", kOpen3, kNone, 0, nullptr, nullptr},
    {"rss/channel/item/[media:group/]media:content", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"rss/channel/item/media:player", kOpen3, kNone, 0, nullptr, nullptr},
    {"rss/channel/item/[media:group/]media:player", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"rss/channel/item/[media:group/]media:player@url", kValue, kSet, PROP_RES, nullptr, nullptr},
    {"rss/channel/item/media:group", kOpen3, kNone, 0, nullptr, nullptr},
    MEDIA_CONTENT_ATTRIBUTES("rss/channel/item/[media:group/]media:content"),
};

constexpr MetaElementRule kRdfRules[] = {
    {"rdf:RDF", kOpen1, kNone, 0, nullptr, nullptr},
    {"rdf:RDF/item", kOpen2, kNone, 0, nullptr, nullptr},
    {"rdf:RDF/image/url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"rdf:RDF/channel/image/url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"rdf:RDF/channel/title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"rdf:RDF/channel/description", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"rdf:RDF/channel/language", kSingle, kSet, PROP_DC_LANGUAGE, nullptr, nullptr},
    {"rdf:RDF/channel/rating", kSingle, kSet, PROP_UPNP_RATING, nullptr, nullptr},
    {"rdf:RDF/channel/link", kRepeat, kSet, PROP_DC_RELATION, nullptr, nullptr},
    {"rdf:RDF/channel/lastBuildDate", kSingle, kSet, PROP_ZENTORIA_MOD_DATE_TIME, meta_rfc822_to_usec, nullptr},
    {"rdf:RDF/channel/copyright", kSingle, kSet, PROP_DC_RIGHTS, nullptr, nullptr},
    {"rdf:RDF/channel/pubDate", kSingle, kSet, PROP_DC_DATE, meta_date_only, nullptr},
    {"rdf:RDF/channel/dc:date", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    {"rdf:RDF/item/enc:enclosure/enc:Enclosure", kOpen3, kNone, 0, nullptr, nullptr},
    {"rdf:RDF/item/enc:enclosure/enc:Enclosure", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"rdf:RDF/item/enc:enclosure/enc:Enclosure@enc:url", kValue, kSet, PROP_RES, nullptr, nullptr},
    {"rdf:RDF/item/enc:enclosure/enc:Enclosure@enc:length", kValue, kSet, PROP_RES_SIZE, nullptr, nullptr},
    {"rdf:RDF/item/enc:enclosure/enc:Enclosure@enc:type", kValue, kSet, PROP_RES_MIME_TYPE, nullptr, nullptr},
    {"rdf:RDF/item/title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"rdf:RDF/item/description", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"rdf:RDF/item/link", kRepeat, kSet, PROP_DC_RELATION, nullptr, nullptr},
    {"rdf:RDF/item/dc:subject", kRepeat, kSet, PROP_UPNP_GENRE, nullptr, nullptr},
    {"rdf:RDF/item/dc:date", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    {"rdf:RDF/item/dc:creator", kRepeat, kSet, PROP_DC_CREATOR, nullptr, nullptr},
    {"rdf:RDF/item/guid", kSingle, kSet, PROP_ZENTORIA_GUID, nullptr, nullptr},
};

constexpr MetaElementRule kAtomRules[] = {
    {"feed", kOpen1, kNone, 0, nullptr, nullptr},
    {"feed/entry", kOpen2, kNone, 0, nullptr, nullptr},
    {"feed/subtitle", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"feed/tagline", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"feed/updated", kSingle, kSet, PROP_ZENTORIA_MOD_DATE_TIME, meta_iso8601_to_usec, nullptr},
    {"feed/modified", kSingle, kSet, PROP_ZENTORIA_MOD_DATE_TIME, meta_iso8601_to_usec, nullptr},
    {"feed/icon", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"feed/logo", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"feed/link@href", kRepeat, kSet, PROP_DC_RELATION, nullptr, nullptr},
    {"feed/rating", kSingle, kSet, PROP_UPNP_RATING, nullptr, nullptr},
    {"feed/language", kSingle, kSet, PROP_DC_LANGUAGE, nullptr, nullptr},
    {"feed/[entry/]title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"feed/entry/published", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    {"feed/entry/yt:recorded", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    // The publication date of the 0.3 format.
    {"feed/entry/issued", kSingle, kSet, PROP_DC_DATE, nullptr, nullptr},
    {"feed/entry/content", kSingle, kSet, PROP_UPNP_LONG_DESCRIPTION, meta_strip_tags, nullptr},
    {"feed/entry/summary", kSingle, kSet, PROP_DC_DESCRIPTION, meta_strip_tags, nullptr},
    {"feed/entry/updated", kSingle, kSet, PROP_ZENTORIA_MOD_DATE_TIME, meta_iso8601_to_usec, nullptr},
    {"feed/[entry/]author/name", kRepeat, kSet, PROP_UPNP_AUTHOR, nullptr, nullptr},
    {"feed/[entry/]contributor/name", kRepeat, kSet, PROP_UPNP_AUTHOR, nullptr, nullptr},
    // Atom gives a category's name in its term attribute.
    {"feed/[entry/]category@term", kRepeat, kSet, PROP_UPNP_GENRE, nullptr, nullptr},
    {"feed/[entry/]rights", kRepeat, kSet, PROP_DC_RIGHTS, nullptr, nullptr},
    {"feed/[entry/]copyright", kRepeat, kSet, PROP_DC_RIGHTS, nullptr, nullptr},
    {"feed/[entry/]id", kSingle, kSet, PROP_ZENTORIA_GUID, nullptr, nullptr},
    {"feed/entry/link", kOpen3, kNone, 0, nullptr, nullptr},
    {"feed/entry/link", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"feed/entry/link@href", kValue, kSet, PROP_RES, nullptr, nullptr},
    {"feed/entry/link@rel", kValue, kSet, PROP_RES_REL, nullptr, nullptr},
    {"feed/entry/link@length", kValue, kSet, PROP_RES_SIZE, nullptr, nullptr},
    {"feed/entry/link@type", kValue, kSet, PROP_RES_MIME_TYPE, nullptr, nullptr},
    {"feed/entry/link@title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    MEDIA_RSS_BLOCK("feed/[entry/media:content/]"),
    MEDIA_RSS_BLOCK("feed/entry/[media:group/]"),
    {"feed/entry/link/media:content/media:thumbnail@url", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"feed/entry/media:content", kOpen3, kNone, 0, nullptr, nullptr},
    {"feed/entry/media:player", kOpen3, kNone, 0, nullptr, nullptr},
    {"feed/entry/media:group", kOpen3, kNone, 0, nullptr, nullptr},
    {"feed/entry/[media:group/]media:content", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"feed/entry/[media:group/]media:player", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"feed/entry/[media:group/]media:player@url", kValue, kSet, PROP_RES, nullptr, nullptr},
    MEDIA_CONTENT_ATTRIBUTES("feed/entry/[media:group/]media:content"),
    {"feed/entry/nfl:image", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
    {"feed/entry/joost:thumbnail", kSingle, kSet, PROP_UPNP_ICON, nullptr, nullptr},
};

constexpr MetaElementRule kOpmlRules[] = {
    {"opml", kOpen1, kNone, 0, nullptr, nullptr},
    // The document's title is the text of head's title element.
    {"opml/head/title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"opml/body/outline", kOpen2, kNone, 0, nullptr, nullptr},
    {"opml/body/outline/outline", kOpen3, kNone, 0, nullptr, nullptr},
    {"opml/body/[outline/]outline", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"opml/body/[outline/]outline@text", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"opml/body/[outline/]outline@url", kSingle, kSet, PROP_ZENTORIA_GUID, nullptr, nullptr},
    {"opml/body/[outline/]outline@url", kValue, kSet, PROP_RES, nullptr, nullptr},
    {"opml/body/[outline/]outline@bitrate", kValue, kSet, PROP_RES_BITRATE, nullptr, nullptr},
};

constexpr MetaElementRule kSmilRules[] = {
    {"smil", kOpen1, kNone, 0, nullptr, nullptr},
    {"smil/head/title", kSingle, kSet, PROP_DC_TITLE, nullptr, nullptr},
    {"smil/body/seq/media", kOpen2, kNone, 0, nullptr, nullptr},
    {"smil/body/seq/media", kOpen3, kNone, 0, nullptr, nullptr},
    {"smil/body/seq/media", kRepeat, kNone, PROP_RES, nullptr, nullptr},
    {"smil/body/seq/media@src", kValue, kSet, PROP_RES, meta_parent_relative, nullptr},
};

#undef MEDIA_RSS_BLOCK
#undef MEDIA_CONTENT_ATTRIBUTES

template <std::size_t N>
constexpr int rows(const MetaElementRule (&)[N]) {
  return static_cast<int>(N);
}

static_assert(rows(kRssRules) == 77);
static_assert(rows(kRdfRules) == 25);
static_assert(rows(kAtomRules) == 74);
static_assert(rows(kOpmlRules) == 9);
static_assert(rows(kSmilRules) == 6);

}  // namespace

const MetaFormatTable META_FORMAT_TABLES[META_FORMAT_TABLE_COUNT] = {
    {"rss", METAFILE_RSS, kRssRules, rows(kRssRules), meta_fixup_rss, meta_fixup_rss_subitems},
    {"rdf:RDF", METAFILE_RDF, kRdfRules, rows(kRdfRules), meta_fixup_rdf, nullptr},
    {"feed", METAFILE_ATOM, kAtomRules, rows(kAtomRules), meta_fixup_atom, nullptr},
    {"opml", METAFILE_OPML, kOpmlRules, rows(kOpmlRules), nullptr, nullptr},
    {"smil", METAFILE_SMIL, kSmilRules, rows(kSmilRules), nullptr, nullptr},
};
