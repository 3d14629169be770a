// Small helpers shared by the fuzz targets: splitting an input into pieces
// and checking the XML text that the client sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// Ends the run with a message that libFuzzer reports as a crash, so that the
// input that broke a property is saved. Works with NDEBUG too.
[[noreturn]] inline void fail(const char* what) {
  // stdout, so that the text survives -close_fd_mask=2 (sanitizer reports
  // are redirected by libFuzzer and survive it anyway).
  std::printf("fuzz property violated: %s\n", what);
  std::fflush(stdout);
  std::abort();
}

inline void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

// The input cut at every zero byte (an input of n zero bytes gives n + 1
// pieces, some of them empty).
inline std::vector<std::string> split_on_zero(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back() += static_cast<char>(data[i]);
    }
  }
  return pieces;
}

// Reads bytes off the front of an input; returns 0 once it is used up.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ == size_; }
  std::size_t left() const { return size_ - at_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Up to `count` bytes (fewer when the input runs out).
  std::string take(std::size_t count) {
    if (count > left()) count = left();
    std::string out(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Undoes the escaping of a text value, or returns false when the text is not
// well formed: a raw '<', '>' or carriage return, or an '&' that does not
// start one of &amp; &lt; &gt; &#13;.
inline bool unescape_value(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '>' || c == '\r') return false;
    if (c != '&') {
      *out += c;
      continue;
    }
    if (text.compare(i, 5, "&amp;") == 0) {
      *out += '&';
      i += 4;
    } else if (text.compare(i, 4, "&lt;") == 0) {
      *out += '<';
      i += 3;
    } else if (text.compare(i, 4, "&gt;") == 0) {
      *out += '>';
      i += 3;
    } else if (text.compare(i, 5, "&#13;") == 0) {
      *out += '\r';
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// Walks the call text that build_request produces. Each expect_* step
// consumes its part and returns false on any deviation.
class CallReader {
 public:
  explicit CallReader(const std::string& text) : text_(text) {}

  bool expect(const char* literal) {
    const std::string want(literal);
    if (text_.compare(at_, want.size(), want) != 0) return false;
    at_ += want.size();
    return true;
  }
  bool at(const char* literal) const {
    return text_.compare(at_, std::string(literal).size(), literal) == 0;
  }
  bool done() const { return at_ == text_.size(); }

  // A <string>...</string> value; the unescaped text goes to `*value`.
  bool expect_string(std::string* value) {
    if (!expect("<string>")) return false;
    const std::size_t end = text_.find("</string>", at_);
    if (end == std::string::npos) return false;
    if (!unescape_value(text_.substr(at_, end - at_), value)) return false;
    at_ = end + 9;
    return true;
  }
  bool expect_string_param(std::string* value) {
    return expect("<param><value>") && expect_string(value) && expect("</value></param>");
  }
  bool expect_array_param(std::vector<std::string>* values) {
    values->clear();
    if (!expect("<param><value><array>")) return false;
    while (at("<data>")) {
      std::string value;
      if (!expect("<data><value>") || !expect_string(&value) || !expect("</value></data>"))
        return false;
      values->push_back(value);
    }
    return expect("</array></value></param>");
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace fuzz
