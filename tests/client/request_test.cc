#include "client/request.h"

#include <gtest/gtest.h>

#include "support/xml_escape.h"

namespace tarnwick {

namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

CompareOptions validated_compare() {
  CompareOptions options;
  options.contributors = {"C:\\w\\a.txt", "C:\\w\\b.txt"};
  options.display_names = {"a.txt", "b.txt"};
  return options;
}

TEST(BuildRequestTest, WorkedCompareExample) {
  EXPECT_EQ(build_request(validated_compare()),
            "<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value>"
            "<array><data><value><string>a.txt</string></value></data><data><value><string>b.txt"
            "</string></value></data></array></value></param><param><value><array><data><value>"
            "<string>C:\\w\\a.txt</string></value></data><data><value><string>C:\\w\\b.txt"
            "</string></value></data></array></value></param><param><value><string></string>"
            "</value></param></params></methodCall>");
}

TEST(BuildRequestTest, MergeSendsTheOutputPathFirst) {
  CompareOptions options = validated_compare();
  options.merge = true;
  options.out_path = "C:\\w\\out.txt";
  options.encoding_given = true;
  options.type_name = "utf16le_file_delta";
  const std::string request = build_request(options);
  EXPECT_EQ(count(request, "<param>"), 4u);
  EXPECT_EQ(request.rfind("<methodCall><methodName>RequestHandler.CompareMerge</methodName>"
                          "<params><param><value><string>C:\\w\\out.txt</string></value></param>"
                          "<param><value><array>",
                          0),
            0u);
  EXPECT_NE(request.find("<param><value><string>utf16le_file_delta</string></value></param>"
                         "</params></methodCall>"),
            std::string::npos);

  // The same record as a compare: three parameters, no output path.
  options.merge = false;
  const std::string compare = build_request(options);
  EXPECT_EQ(count(compare, "<param>"), 3u);
  EXPECT_NE(compare.find("<methodName>RequestHandler.Compare</methodName>"), std::string::npos);
  EXPECT_EQ(compare.find("out.txt"), std::string::npos);
}

TEST(BuildRequestTest, TypeNameOnlyWhenEncodingGiven) {
  CompareOptions options = validated_compare();
  options.type_name = "utf8_file_delta";
  EXPECT_EQ(build_request(options).find("utf8_file_delta"), std::string::npos);
}

TEST(BuildRequestTest, ArraysFollowContributorOrder) {
  CompareOptions options;
  options.contributors = {"/p/1", "/p/2", "/p/3"};
  options.display_names = {"one", "two", "three"};
  const std::string request = build_request(options);
  EXPECT_EQ(count(request, "<data>"), 6u);
  EXPECT_NE(request.find("<array><data><value><string>one</string></value></data>"
                         "<data><value><string>two</string></value></data>"
                         "<data><value><string>three</string></value></data></array>"),
            std::string::npos);
  EXPECT_NE(request.find("<array><data><value><string>/p/1</string></value></data>"
                         "<data><value><string>/p/2</string></value></data>"
                         "<data><value><string>/p/3</string></value></data></array>"),
            std::string::npos);
}

TEST(BuildRequestTest, MarkupInValuesIsEscaped) {
  EXPECT_EQ(support::xml_escape("a&b<c>d"), "a&amp;b&lt;c&gt;d");
  EXPECT_EQ(support::xml_escape("&amp;"), "&amp;amp;");
  const std::string plain = "C:\\x y\\\"q\"\xe9'\t";
  EXPECT_EQ(support::xml_escape(plain), plain);

  CompareOptions options;
  options.merge = true;
  options.out_path = "/o/<out>";
  options.contributors = {"/p/a&b", "/p/</string><x>"};
  options.display_names = {"a&b", "<b>"};
  const std::string request = build_request(options);
  EXPECT_NE(request.find("<string>/o/&lt;out&gt;</string>"), std::string::npos);
  EXPECT_NE(request.find("<string>a&amp;b</string>"), std::string::npos);
  EXPECT_NE(request.find("<string>&lt;b&gt;</string>"), std::string::npos);
  EXPECT_NE(request.find("<string>/p/&lt;/string&gt;&lt;x&gt;</string>"), std::string::npos);
  // No element but ours: every '<' of the request opens one of our tags.
  EXPECT_EQ(count(request, "<string>"), 6u);
  EXPECT_EQ(count(request, "</string>"), 6u);
  EXPECT_EQ(count(request, "<x>"), 0u);
}

// A raw carriage return would be read back as a line feed: it travels as a
// character reference. Tab and line feed arrive as they are.
TEST(BuildRequestTest, CarriageReturnTravelsAsAReference) {
  EXPECT_EQ(support::xml_escape("out\r.txt"), "out&#13;.txt");
  EXPECT_EQ(support::xml_escape("a\r\nb\tc\n"), "a&#13;\nb\tc\n");

  CompareOptions options;
  options.merge = true;
  options.out_path = "/w/out\r.txt";
  options.contributors = {"/w/a\r", "/w/b"};
  options.display_names = {"a\r", "b"};
  const std::string request = build_request(options);
  EXPECT_EQ(request.find('\r'), std::string::npos);
  EXPECT_NE(request.find("<string>/w/out&#13;.txt</string>"), std::string::npos);
  EXPECT_NE(request.find("<string>a&#13;</string>"), std::string::npos);
  EXPECT_NE(request.find("<string>/w/a&#13;</string>"), std::string::npos);
}

TEST(BuildRequestTest, OnlyControlCharactersXmlCannotCarryAreRefused) {
  EXPECT_TRUE(xml_can_carry("C:\\x y\\\"q\"\xe9'\t\r\n\x7f\x80\xff"));
  EXPECT_TRUE(xml_can_carry(""));
  for (int c = 1; c < 0x20; ++c) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    EXPECT_FALSE(xml_can_carry(std::string("a") + static_cast<char>(c) + "b")) << c;
  }
  EXPECT_FALSE(xml_can_carry(std::string("a\0b", 3)));
}

TEST(ReplySucceededTest, FirstBooleanWithinItsWindow) {
  EXPECT_TRUE(reply_succeeded("<boolean>1</boolean>"));
  EXPECT_TRUE(
      reply_succeeded("HTTP/1.1 200 OK\r\n\r\n<methodResponse><params><param><value>"
                      "<boolean>1</boolean></value></param></params></methodResponse>"));
  EXPECT_TRUE(reply_succeeded("<boolean> 1</boolean>"));
  EXPECT_TRUE(reply_succeeded("<boolean>          1"));  // the window's last byte
  EXPECT_TRUE(reply_succeeded("<boolean>1"));
  EXPECT_FALSE(reply_succeeded("<boolean>           1"));  // one byte beyond
  EXPECT_FALSE(reply_succeeded("<boolean>0</boolean>"));
  EXPECT_FALSE(reply_succeeded("<boolean>0</boolean>1"));
  EXPECT_FALSE(reply_succeeded("<boolean>"));
  EXPECT_FALSE(reply_succeeded("<boolean>0</boolean><boolean>1</boolean>"));
  EXPECT_FALSE(reply_succeeded("<Boolean>1</Boolean>"));
  EXPECT_FALSE(reply_succeeded("<fault><value><int>1</int></value></fault>"));
  EXPECT_FALSE(reply_succeeded(""));
}

TEST(ReplyFaultTextTest, ReadsTheFaultsReasonBackAsOneLine) {
  const std::string fault =
      "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n<?xml version=\"1.0\"?><methodResponse>"
      "<fault><value><struct><member><name>faultCode</name><value><int>5</int></value>"
      "</member><member><name>faultString</name><value><string>C:\\a&amp;b&lt;c&gt;.txt "
      "cannot be read:&#13;\nno such file &#x26; &#233;</string></value></member></struct>"
      "</value></fault></methodResponse>";
  // Markup read back; line ends become blanks; a reference beyond ASCII stays.
  EXPECT_EQ(reply_fault_text(fault), "C:\\a&b<c>.txt cannot be read:  no such file & &#233;");
  // A value without a type is a string too.
  EXPECT_EQ(reply_fault_text("<member><name>faultString</name><value>bare</value></member>"),
            "bare");
  // No fault, a truncated one, or a member whose value lies in the next member.
  EXPECT_EQ(reply_fault_text("<boolean>0</boolean>"), "");
  EXPECT_EQ(reply_fault_text(""), "");
  EXPECT_EQ(reply_fault_text("<member><name>faultString</name><value><string>cut"), "");
  EXPECT_EQ(reply_fault_text("<member><name>faultString</name></member>"
                             "<member><name>x</name><value>other</value></member>"),
            "");
  // Stray ampersands and unfinished references are kept as they stand.
  EXPECT_EQ(reply_fault_text("<name>faultString</name><value>a & b &#; &#99999999;</value>"),
            "a & b &#; &#99999999;");
}

}  // namespace

}  // namespace tarnwick
