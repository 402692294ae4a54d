/* The public header must compile as C. */
#include "cle.h"

int cle_header_c_check(void) {
    return cle_history_size();
}
