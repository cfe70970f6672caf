/* Linked against zlib's import library on purpose: the static check of the
   Windows programs must refuse its import of zlib1.dll. */
#include <zlib.h>

int main(void) { return zlibVersion()[0] == '1' ? 0 : 1; }
