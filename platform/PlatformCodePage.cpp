#include "PlatformCodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

namespace {
constexpr const char *kFallback = "ISO-8859-1";

// Character sets a locale may report, as constants that outlive the locale
// object. Plain ASCII ("C" locale) is absent on purpose: it cannot hold the
// bytes above 0x7F that legacy text carries, so it reads as Latin-1.
constexpr const char *kKnownCodesets[] = {
    "UTF-8",       "ISO-8859-1", "ISO-8859-2", "ISO-8859-5", "ISO-8859-7", "ISO-8859-9",
    "ISO-8859-15", "CP1251",     "CP1252",     "KOI8-R",     "KOI8-U",     "EUC-JP",
    "EUC-KR",      "GB2312",     "GBK",        "GB18030",    "BIG5",       "BIG5-HKSCS",
    "SHIFT_JIS",   "TIS-620",    "ARMSCII-8",  "GEORGIAN-PS"};

const char *known_codeset(const char *codeset) {
  if (codeset == nullptr) return kFallback;
  for (const char *known : kKnownCodesets)
    if (strcasecmp(known, codeset) == 0) return known;
  return kFallback;
}
}  // namespace

const char *platform_system_encoding() {
  // A locale object of our own leaves the process locale alone.
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return kFallback;
  const char *result = known_codeset(nl_langinfo_l(CODESET, locale));
  freelocale(locale);
  return result;
}
