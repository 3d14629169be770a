// The C runtime on Windows opens standard output in text mode, which turns
// every "\n" written into "\r\n". The merged text that -p prints must come out
// byte for byte as merged, as it does on other systems: standard output is
// switched to binary before main runs.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

const int kStdoutBinary = _setmode(_fileno(stdout), _O_BINARY);

}  // namespace
