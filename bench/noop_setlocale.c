/* A floor that includes what every C program that honours the user's locale
   does: dynamic linking of the C library and setlocale(LC_ALL, ""). */
#include <locale.h>

int main(void) { return setlocale(LC_ALL, "") == 0; }
