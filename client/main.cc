// tarnwick: the compare/merge command-line client.
#include "client/driver.h"

int main(int argc, char** argv) { return tarnwick::run_client(argc, argv); }
