#include "client/catalogue.h"

#include <cstdint>

namespace tarnwick {

namespace {

constexpr const char* kTexts[] = {
    "Usage: tarnwick\n"
    "    [ -out output-pname ]\n"
    "    [ -blank_ignore ]\n"
    "    [-encoding utf-8|utf-16le|utf-16be|utf-32le|utf-32be]\n"
    "    [ -base pname ]\n"
    "contrib-pname ...",
    "Unrecognized option",
    "A specified flag requires a parameter.",
    "You must supply the \"-favor_contrib\" option when the \"-blank_ignore\" option is used in "
    "merge mode.",
    "At least two objects must be supplied to compare.",
    "The favor contributor specified is invalid.",
    "If the /base command line switch is used, it must appear before the names of any "
    "contributor files or directories",
    "Incorrect Encoding Option was Specified",
    "Currently the UTF8 Compare / Merge UI is not available on this platform. However you can "
    "access this UTF8 Compare/Merge functionality from a command line interface. For additional "
    "details, please refer to the Release Notes",
};

constexpr std::uint16_t kNumbers[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};

static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == 9);
static_assert(sizeof(kNumbers) / sizeof(kNumbers[0]) == 9);

constexpr support::MessageCatalogue kCatalogue = {
    "tarnwick_bin", "twk", 63, 9, kTexts, kNumbers,
};

}  // namespace

extern "C" TW_EXPORT const support::MessageCatalogue* _tarnwick_tarnwick_msg_table_adr() {
  return &kCatalogue;
}

void print_entry(int index) {
  support::msg_print(kCatalogueMessageKind, _tarnwick_tarnwick_msg_table_adr(), index);
}

}  // namespace tarnwick
