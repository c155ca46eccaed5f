/* A program built the way the README shows, against an installed kelvara: the header and the
   library found through pkg-config alone. */
#include <stdio.h>
#include <string.h>

#include <kelvara.h>

int main(void) {
    char result[20];
    char text[] = "run_h.dat  ";
    const int32_t value = 901;
    AINTEGER(result, (int32_t)sizeof result, &value);
    if (memcmp(result, "901", 3) != 0 || result[3] != ' ') {
        printf("AINTEGER gave \"%.20s\"\n", result);
        return 1;
    }
    if (LENSL(text, (int32_t)strlen(text)) != 9) {
        printf("LENSL gave the wrong length\n");
        return 1;
    }
    printf("installed kelvara works\n");
    return 0;
}
