// tarnwickutf8: runs tarnwick on UTF-8 files.
#include "utf8launcher/launcher.h"

int main(int argc, char** argv) { return tarnwickutf8::run_launcher(argc, argv); }
