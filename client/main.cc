// tarnwick: the compare/merge command-line client.
#include "client/driver.h"

int main(int argc, char** argv) { return run_client(argc, argv); }
