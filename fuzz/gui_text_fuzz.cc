// Fuzzes the graphical client's text decoding with arbitrary file bytes. The
// first byte picks the encoding; the rest is the file. Whatever decodes must
// encode back to exactly the same bytes (the merge result of an unchanged
// file must not differ from it), and the lines must join to the decoded text
// without loss.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/text_codec.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marlow::Encoding;
  if (size == 0) return 0;
  constexpr Encoding kEncodings[] = {Encoding::automatic, Encoding::utf8,    Encoding::utf16le,
                                     Encoding::utf16be,   Encoding::utf32le, Encoding::utf32be};
  const Encoding encoding = kEncodings[data[0] % (sizeof kEncodings / sizeof kEncodings[0])];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const support::Result<marlow::TextDocument> decoded = marlow::decode_text(bytes, encoding);
  if (!decoded.ok()) {
    fuzz::check(encoding != Encoding::automatic, "automatic decoding never fails");
    fuzz::check(!decoded.status().text().empty(), "a failed decoding says why");
    return 0;
  }
  fuzz::check(decoded.value().encoding != Encoding::automatic, "decoding settles the encoding");
  const std::string utf8 = marlow::join_lines(decoded.value().lines);
  fuzz::check(marlow::is_valid_utf8(utf8), "decoded text is valid UTF-8");
  fuzz::check(marlow::split_lines(utf8) == decoded.value().lines, "lines split and join losslessly");
  const support::Result<std::string> encoded = marlow::encode_text(decoded.value());
  fuzz::check(encoded.ok(), "decoded text encodes again");
  fuzz::check(encoded.value() == bytes, "decoding then encoding gives back the same bytes");
  return 0;
}
