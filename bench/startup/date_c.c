/* The same program without the library: its own conversion of the packed date. */
#include <stdint.h>
#include <stdio.h>

int main(void) {
    const int32_t packed = 20240229;
    const int32_t y = packed / 10000, m = packed / 100 % 100, d = packed % 100;
    const int32_t a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
    printf("%d\n", d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045);
    return 0;
}
