/* Every public header, through the umbrella, compiled as strict C99. */
#include <qmrt/qmrt.h>

int header_check_c99(void) {
    return QM_VALUE_SIZE + JSON_STRING;
}
