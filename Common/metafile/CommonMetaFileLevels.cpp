// The three levels of a parse (container, item, sub-item), what happens when
// one closes, and the item callback contract. Every reader goes through here,
// so the fix-ups and the callback run the same way for every format.
#include <apr_strings.h>

#include "CommonCancel.h"
#include "CommonMetaFileInternal.h"
#include "CommonUserMessage.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

constexpr const char *kCallbackFailedText =
    "User provided parsing callback failed, discontinuing parsing of this metafile";
constexpr const char *kCallbackFailedUserText = "Could not parse this metafile or no valid content found";

// Runs the format's fix-up on every level that is set below the container
// (or on the container alone), then the caller's callback.
void report(MetaFileParser *parser) {
  if (parser->stop) return;
  if (cancel_requested(parser->cancel, parser->cancel_context)) {
    meta_stop(parser, COMMON_CANCELLED);
    return;
  }
  MetaFileLevels &levels = parser->levels;
  if (parser->table != nullptr && parser->table->level_fixup != nullptr) {
    if (levels.list[2] == nullptr) {
      parser->table->level_fixup(parser, 1);
    } else {
      for (int level = 2; level <= 3; ++level) {
        if (levels.list[level] != nullptr) parser->table->level_fixup(parser, level);
      }
    }
  }
  int status = parser->callback(&levels, parser, parser->context);
  if (status == 0) return;
  if (status != COMMON_CANCELLED) {
    LOG4C_EX(METAFILE_MODULE, LOG4C_ERROR, kCallbackFailedText, LOG4C_ERROR, kCallbackFailedUserText);
    status = APR_EGENERAL;
  }
  meta_stop(parser, status);
}

void free_level(MetaFileLevels &levels, int level) {
  if (levels.pool[level] != nullptr) apr_pool_destroy(levels.pool[level]);
  levels.pool[level] = nullptr;
  levels.list[level] = nullptr;
}

void free_subitems(MetaFileParser *parser) {
  for (int i = 0; i < parser->subitem_count; ++i) {
    apr_pool_destroy(parser->subitem_pools[i]);
    parser->subitem_pools[i] = nullptr;
    parser->subitems[i] = nullptr;
  }
  parser->subitem_count = 0;
  parser->subitems_overflowed = false;
}

void append_subitem(MetaFileParser *parser) {
  MetaFileLevels &levels = parser->levels;
  if (parser->subitem_count == METAFILE_MAX_SUBITEMS) {
    // A feed with thousands of enclosures per item would otherwise log one
    // error for each: one per item says the same.
    if (!parser->subitems_overflowed) {
      LOG4C(METAFILE_MODULE, LOG4C_ERROR,
            log4c_sprintf("Subitem count exceeded allowed maximum of %d, discarding it...", METAFILE_MAX_SUBITEMS));
    }
    parser->subitems_overflowed = true;
    free_level(levels, 3);
    return;
  }
  parser->subitems[parser->subitem_count] = levels.list[3];
  parser->subitem_pools[parser->subitem_count] = levels.pool[3];
  ++parser->subitem_count;
  levels.list[3] = nullptr;
  levels.pool[3] = nullptr;
}

void end_item(MetaFileParser *parser) {
  MetaFileLevels &levels = parser->levels;
  if (parser->subitem_count == 0) {
    parser->subitems[0] = levels.list[2];
    parser->subitem_pools[0] = levels.pool[2];
    parser->subitem_count = 1;
    levels.pool[2] = pool_create_or_die(parser->pool, METAFILE_MODULE);
    levels.list[2] = prop_list_create(levels.pool[2]);
  }
  if (parser->table != nullptr && parser->table->subitems_fixup != nullptr && !parser->stop) {
    parser->table->subitems_fixup(parser);
  }
  for (int i = 0; i < parser->subitem_count && !parser->stop; ++i) {
    levels.list[3] = parser->subitems[i];
    levels.pool[3] = parser->subitem_pools[i];
    report(parser);
  }
  levels.list[3] = nullptr;
  levels.pool[3] = nullptr;
  free_subitems(parser);
  report(parser);
  free_level(levels, 2);
}

}  // namespace

MetaFileParser::MetaFileParser(const char *path_, int options_, MetaItemCallback callback_, void *context_,
                               CancelCheck cancel_, void *cancel_context_)
    : pool(pool_create_or_die(nullptr, METAFILE_MODULE)),
      path(apr_pstrdup(pool, path_)),
      file(path),
      options(options_),
      callback(callback_),
      context(context_),
      cancel(cancel_),
      cancel_context(cancel_context_) {}

MetaFileParser::~MetaFileParser() {
  free_subitems(this);
  for (int level = 3; level >= 1; --level) free_level(levels, level);
  apr_pool_destroy(pool);
}

void meta_stop(MetaFileParser *parser, int result) {
  if (!parser->stop) parser->result = result;
  parser->stop = true;
}

int meta_current_level(const MetaFileParser *parser) {
  for (int level = 3; level >= 1; --level) {
    if (parser->levels.list[level] != nullptr) return level;
  }
  return 0;
}

int meta_level_open(MetaFileParser *parser, int level) {
  MetaFileLevels &levels = parser->levels;
  if (level < 1 || level > 3 || levels.list[level] != nullptr || (level > 1 && levels.list[level - 1] == nullptr)) {
    LOG4C(METAFILE_MODULE, LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return APR_EGENERAL;
  }
  if (level == 2 && cancel_requested(parser->cancel, parser->cancel_context)) {
    meta_stop(parser, COMMON_CANCELLED);
  }
  levels.pool[level] = pool_create_or_die(parser->pool, METAFILE_MODULE);
  levels.list[level] = prop_list_create(levels.pool[level]);
  return APR_SUCCESS;
}

void meta_level_close(MetaFileParser *parser, int level) {
  MetaFileLevels &levels = parser->levels;
  if (level < 1 || level > 3 || levels.list[level] == nullptr) return;
  for (int deeper = 3; deeper > level; --deeper) meta_level_close(parser, deeper);
  switch (level) {
    case 3:
      append_subitem(parser);
      break;
    case 2:
      end_item(parser);
      break;
    default:
      report(parser);
      free_level(levels, 1);
      break;
  }
}

void meta_levels_close_all(MetaFileParser *parser) {
  for (int level = 3; level >= 1; --level) meta_level_close(parser, level);
}

void meta_store(apr_pool_t *pool, PropList *list, int slot, int mode, const char *separator, const char *value) {
  if (list == nullptr || slot == 0 || value == nullptr || mode == META_VALUE_NONE) return;
  int count = prop_count(list, slot);
  const char *existing = count > 0 ? prop_get(pool, list, slot, count - 1) : nullptr;
  if (mode == META_VALUE_IF_ABSENT && existing != nullptr) return;
  if (mode == META_VALUE_APPEND && existing != nullptr) {
    value = apr_pstrcat(pool, existing, separator != nullptr ? separator : "", value, nullptr);
  }
  if (count == 0) prop_add_instance(pool, list, slot);
  prop_set(pool, list, slot, value);
}
