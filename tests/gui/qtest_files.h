// What the window tests share: a temporary directory with files, and the
// call the client sends for them.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "serve/xmlrpc.h"
#include "serve/serve.h"

namespace marlow::testing {

inline std::string call(const std::string& method, const std::string& out,
                        const std::vector<std::string>& paths) {
  std::string text = "<methodCall><methodName>" + method + "</methodName><params>";
  if (!out.empty())
    text += "<param><value><string>" + xml_escape(out) + "</string></value></param>";
  std::string array = "<param><value><array>";
  for (const std::string& p : paths) {
    array += "<data><value><string>" + xml_escape(p) + "</string></value></data>";
  }
  array += "</array></value></param>";
  return text + array + array +
         "<param><value><string></string></value></param></params></methodCall>";
}

class Files {
 public:
  std::string path(const char* name) const { return (dir_.path() + "/" + name).toStdString(); }
  void write(const char* name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string read(const char* name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The prepared merge of three texts (written as "base", "one" and
  // "other") into "out", as a merge window gets it.
  Job merge_of(const std::string& base, const std::string& one, const std::string& other) const {
    write("base", base);
    write("one", one);
    write("other", other);
    Preparation prep = prepare(call("RequestHandler.CompareMerge", path("out"),
                                    {path("base"), path("one"), path("other")}),
                               false);
    Q_ASSERT(prep.needs_window);
    return prep.job;
  }

 private:
  QTemporaryDir dir_;
};

}  // namespace marlow::testing

// A test program's main: the windows keep preferences (sizes, options) in
// the user's settings, so each run gets settings of its own.
#define MARLOW_QTEST_MAIN(TestClass)                    \
  int main(int argc, char** argv) {                     \
    QTemporaryDir config;                               \
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); \
    QApplication app(argc, argv);                       \
    TestClass test;                                     \
    return QTest::qExec(&test, argc, argv);             \
  }
