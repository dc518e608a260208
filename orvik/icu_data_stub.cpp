// A stand-in for ICU's data library, which the wheel carries instead of the
// real one. The quoted form asks ICU for character properties only (general
// category, Grapheme_Extend), which ICU's common library keeps in tables built
// into its own code: the data library (31 MB of locales, collation and
// converters) is never opened. The common library still names the data
// library's entry point, so this one defines it as an empty common-data
// package, as ICU's own stub data library does: a lookup that did reach for
// data would fail with U_MISSING_RESOURCE_ERROR.
#include <unicode/udata.h>
#include <unicode/utypes.h>

#include <cstdint>

namespace {

struct EmptyCommonData {
  std::uint16_t header_size;
  std::uint8_t magic1;
  std::uint8_t magic2;
  UDataInfo info;
  char padding[8];
  std::uint32_t item_count;
  std::uint32_t reserved;
};

}  // namespace

extern "C" const EmptyCommonData U_ICUDATA_ENTRY_POINT = {
    32, 0xda, 0x27,
    {sizeof(UDataInfo), 0, U_IS_BIG_ENDIAN, U_CHARSET_FAMILY, U_SIZEOF_UCHAR, 0,
     {'C', 'm', 'n', 'D'}, {1, 0, 0, 0}, {0, 0, 0, 0}},
    {}, 0, 0};
