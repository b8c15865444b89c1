// Every public header, through the umbrella, compiled as strict C++17.
#include <qmrt/qmrt.h>

int header_check_cxx17() {
    return QM_VALUE_SIZE + JSON_STRING;
}
