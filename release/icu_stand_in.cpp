// Temporary, until the quoted form reads its character properties from
// utf8proc itself: the two ICU calls it makes, answered from utf8proc's
// tables, so that the release wheels link no ICU. The quoted form asks only
// whether a category is one it escapes and whether a character extends a
// grapheme; every other category answers as U_OTHER_LETTER.
#include <unicode/uchar.h>
#include <utf8proc.h>

U_CAPI int8_t U_EXPORT2 u_charType(UChar32 c) {
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_CC: return U_CONTROL_CHAR;
    case UTF8PROC_CATEGORY_CF: return U_FORMAT_CHAR;
    case UTF8PROC_CATEGORY_CS: return U_SURROGATE;
    case UTF8PROC_CATEGORY_CO: return U_PRIVATE_USE_CHAR;
    case UTF8PROC_CATEGORY_CN: return U_UNASSIGNED;
    case UTF8PROC_CATEGORY_ZL: return U_LINE_SEPARATOR;
    case UTF8PROC_CATEGORY_ZP: return U_PARAGRAPH_SEPARATOR;
    case UTF8PROC_CATEGORY_ZS: return U_SPACE_SEPARATOR;
    default: return U_OTHER_LETTER;
  }
}

U_CAPI UBool U_EXPORT2 u_hasBinaryProperty(UChar32 c, UProperty which) {
  if (which != UCHAR_GRAPHEME_EXTEND) return false;
  // Grapheme_Cluster_Break=Extend is Grapheme_Extend plus the emoji modifiers.
  const bool modifier = c >= 0x1F3FB && c <= 0x1F3FF;
  return utf8proc_get_property(c)->boundclass == UTF8PROC_BOUNDCLASS_EXTEND && !modifier;
}
