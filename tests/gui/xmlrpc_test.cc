#include "serve/xmlrpc.h"

#include <gtest/gtest.h>

#include "engine/text_codec.h"

#include <string>

namespace marlow {
namespace {

std::string framed(const std::string& body) {
  return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string array_of(std::initializer_list<std::string> items) {
  std::string out = "<param><value><array>";
  for (const std::string& item : items) {
    out += "<data><value><string>" + item + "</string></value></data>";
  }
  return out + "</array></value></param>";
}

std::string string_param(const std::string& s) {
  return "<param><value><string>" + s + "</string></value></param>";
}

TEST(GuiXmlRpc, ParsesCompareAndMergeCallsWithEntitiesDecoded) {
  const std::string compare =
      "<methodCall><methodName>RequestHandler.Compare</methodName><params>" +
      array_of({"a &amp; b", ""}) + array_of({"/w/a&amp;b.txt", "/w/&lt;c&gt;.txt"}) +
      string_param("") + "</params></methodCall>";
  const ParsedCall c = parse_call(framed(compare));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.request.method, Method::compare);
  EXPECT_EQ(c.request.contributors, (std::vector<std::string>{"/w/a&b.txt", "/w/<c>.txt"}));
  // An empty display name falls back to the path.
  EXPECT_EQ(c.request.display_names, (std::vector<std::string>{"a & b", "/w/<c>.txt"}));
  EXPECT_EQ(c.request.type_name, "");

  const std::string merge =
      "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
      string_param("/w/out&#46;txt") + array_of({"b", "m", "t"}) +
      array_of({"/w/b", "/w/m", "/w/t"}) + string_param("utf16le_file_delta") +
      "</params></methodCall>";
  const ParsedCall m = parse_call(framed(merge));
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m.request.method, Method::compare_merge);
  EXPECT_EQ(m.request.out_path, "/w/out.txt");
  EXPECT_EQ(m.request.contributors.size(), 3u);
  EXPECT_EQ(m.request.type_name, "utf16le_file_delta");
}

TEST(GuiXmlRpc, AcceptsStandardArraysAndUntypedValues) {
  const std::string body =
      "<?xml version=\"1.0\"?>\n<methodCall>\n <methodName>RequestHandler.Compare</methodName>\n"
      " <params><param><value><array><data><value>x</value><value>y</value></data></array>"
      "</value></param><param><value><array><data><value><string>/p</string></value>"
      "<value><string>/q</string></value></data></array></value></param></params>\n"
      "</methodCall>\n";
  const ParsedCall c = parse_call(body);  // bare, and without the type name
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.request.display_names, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(c.request.contributors, (std::vector<std::string>{"/p", "/q"}));
}

TEST(GuiXmlRpc, RejectsWhatItCannotServe) {
  // A path sent with a raw "<" makes the call ill-formed.
  const ParsedCall raw = parse_call(framed(
      "<methodCall><methodName>RequestHandler.Compare</methodName><params>" + array_of({"a", "b"}) +
      array_of({"/a<b", "/c"}) + string_param("") + "</params></methodCall>"));
  EXPECT_FALSE(raw.ok);
  EXPECT_EQ(raw.fault_code, kFaultMalformed);

  const ParsedCall unknown = parse_call(
      framed("<methodCall><methodName>system.listMethods</methodName><params/></methodCall>"));
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.fault_code, kFaultUnknownMethod);

  const ParsedCall one = parse_call(
      framed("<methodCall><methodName>RequestHandler.Compare</methodName><params>" +
             array_of({"a"}) + array_of({"/a"}) + string_param("") + "</params></methodCall>"));
  EXPECT_EQ(one.fault_code, kFaultBadParams);

  const ParsedCall no_out = parse_call(framed(
      "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
      array_of({"a", "b"}) + array_of({"/a", "/b"}) + string_param("") + "</params></methodCall>"));
  EXPECT_EQ(no_out.fault_code, kFaultBadParams);

  EXPECT_FALSE(parse_call("").ok);
  EXPECT_FALSE(parse_call("POST /RPC2 HTTP/1.1\r\nContent-Length: 5\r\n").ok);
}

TEST(GuiXmlRpc, ContentLengthBoundsTheBody) {
  const std::string body = "<methodCall><methodName>RequestHandler.Compare</methodName><params>" +
                           array_of({"a", "b"}) + array_of({"/a", "/b"}) + string_param("") +
                           "</params></methodCall>";
  EXPECT_TRUE(parse_call(framed(body) + "trailing garbage").ok);
}

TEST(GuiXmlRpc, ValuesJoinAllTheirTextAndRejectNulReferences) {
  const auto call = [](const std::string& path) {
    return framed("<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
                  string_param(path) + array_of({"a", "b"}) + array_of({"/a", "/b"}) +
                  string_param("") + "</params></methodCall>");
  };
  // CDATA next to escaped text, and text split by a comment, are one value.
  const ParsedCall mixed = parse_call(call("<![CDATA[/w/<a>]]>&amp;b<!-- note -->.txt"));
  ASSERT_TRUE(mixed.ok) << mixed.error;
  EXPECT_EQ(mixed.request.out_path, "/w/<a>&b.txt");
  // A reference to NUL would cut the path short to another file's name.
  for (const char* bad : {"/w/out&#0;.bak", "/w/out&#x0;", "/w/&#xD800;", "/w/&#x110000;"}) {
    const ParsedCall c = parse_call(call(bad));
    EXPECT_FALSE(c.ok) << bad << " read as " << c.request.out_path;
    EXPECT_EQ(c.fault_code, kFaultMalformed) << bad;
  }
  // Inside CDATA the same characters are plain text.
  const ParsedCall literal = parse_call(call("<![CDATA[/w/&#0;]]>"));
  ASSERT_TRUE(literal.ok) << literal.error;
  EXPECT_EQ(literal.request.out_path, "/w/&#0;");
}

// The client sends a carriage return as &#13; (raw, any XML reader would
// make it a line feed); tab and line feed travel raw. Each comes back as
// the byte that was sent, and a path made only of such characters stays.
TEST(GuiXmlRpc, CarriageReturnReferencesAndRawWhiteSpaceReadBackExactly) {
  const std::string body =
      "<methodCall><methodName>RequestHandler.CompareMerge</methodName><params>" +
      string_param("/w/out&#13;.txt") + array_of({"a&#13;\n", "\t"}) +
      array_of({"/w/a&#13;\nb", "/w/&#13;&#13;\n\n"}) + string_param("") + "</params></methodCall>";
  const ParsedCall c = parse_call(framed(body));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.request.out_path, "/w/out\r.txt");
  EXPECT_EQ(c.request.display_names, (std::vector<std::string>{"a\r\n", "\t"}));
  EXPECT_EQ(c.request.contributors, (std::vector<std::string>{"/w/a\r\nb", "/w/\r\r\n\n"}));
}

TEST(GuiXmlRpc, FaultRepliesStayWellFormedForAnyMessage) {
  const std::string fault = fault_reply(
      kFaultCannotServe, std::string("cannot read /w/caf\xE9\x01\0.txt \xEF\xBF\xBF", 29));
  const std::string body = fault.substr(fault.find("\r\n\r\n") + 4);
  EXPECT_TRUE(is_valid_utf8(body));
  for (const char c : body) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << int(c);
  EXPECT_NE(body.find("/w/caf\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt"), std::string::npos);
}

TEST(GuiXmlRpc, RepliesAreFramedAndFaultsCarryNoBoolean) {
  const std::string yes = boolean_reply(true);
  const std::size_t split = yes.find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos);
  EXPECT_EQ(yes.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0);
  EXPECT_NE(yes.find("Content-Length: " + std::to_string(yes.size() - split - 4) + "\r\n"),
            std::string::npos);
  EXPECT_NE(yes.find("<boolean>1</boolean>"), std::string::npos);
  EXPECT_NE(boolean_reply(false).find("<boolean>0</boolean>"), std::string::npos);
  EXPECT_LT(yes.find("<boolean>"), 1023u);

  const std::string fault = fault_reply(2, "no <boolean>1</boolean> & more");
  EXPECT_EQ(fault.find("<boolean>"), std::string::npos);
  EXPECT_NE(fault.find("<fault>"), std::string::npos);
  EXPECT_NE(fault.find("&lt;boolean&gt;1&lt;/boolean&gt; &amp; more"), std::string::npos);
  EXPECT_NE(fault.find("<int>2</int>"), std::string::npos);
  // A carriage return in a fault's text (a file name may hold one) reaches
  // the reader as one: written raw, a reader would take it for a line feed.
  EXPECT_NE(fault_reply(2, "cannot read /w/a\rb").find("/w/a&#13;b<"), std::string::npos);
}

}  // namespace
}  // namespace marlow
