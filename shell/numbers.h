// Reading numbers out of text the way the C library's atoi reads them, without its
// undefined behaviour on overflow. Pure functions; any thread.
#pragma once

// Leading white space, an optional sign, decimal digits; anything else gives 0.
// Values beyond the range of int saturate.
int parse_leading_int(const char *text);

// As above, read as a 64-bit number (saturating there) and cut to its low 32 bits.
int parse_leading_int_low32(const char *text);
