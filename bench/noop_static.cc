// The floor of any process: a statically linked program that does nothing.
int main() { return 0; }
