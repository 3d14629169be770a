// The client's message catalogue: the table of every user-facing text of
// tarnwick, exported by name so that the message library can find it.
#pragma once

#include "support/runtime_services.h"

namespace tarnwick {

#ifdef _WIN32
#define TW_EXPORT __declspec(dllexport)
#else
#define TW_EXPORT __attribute__((visibility("default"), used))
#endif

// The kind msg_print takes for a catalogued message of the client.
inline constexpr int kCatalogueMessageKind = 6;

// Indices of the catalogue's entries, as passed to msg_print.
enum CatalogueEntry : int {
  kUsageEntry = 0,
  kUnrecognizedOptionEntry = 1,
  kFlagNeedsParameterEntry = 2,
  kFavorContribNeedsMergeEntry = 3,
  kTooFewContributorsEntry = 4,
  kFavorContribInvalidEntry = 5,
  kBaseOrderEntry = 6,
  kBadEncodingEntry = 7,
  kUtf8UiUnavailableEntry = 8,
};

// The address of the catalogue; exported from the executable by this name.
extern "C" TW_EXPORT const support::MessageCatalogue* _tarnwick_tarnwick_msg_table_adr();

// Prints one entry of the catalogue through msg_print; the result is ignored.
void print_entry(int index);

}  // namespace tarnwick
