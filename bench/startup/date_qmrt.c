/* The smallest program of the suite: it converts one packed date with the library and
 * prints its day number. Its start-up is what every such program pays for the library. */
#include <qmrt/calendar.h>
#include <stdio.h>

int main(void) {
    int32_t day_number;
    utdateij(&day_number, 20240229);
    printf("%d\n", (int)day_number);
    return 0;
}
