// EBCDIC tables made from glibc's iconv. The code pages of BDT transfers are
// single-byte, so one table lookup per byte decodes them.
#include "tl_ebcdic.h"

#include <iconv.h>

bool tl_ebcdic_table(const char* codepage, unsigned char table[256]) {
  iconv_t cd = iconv_open("ISO-8859-1", codepage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  unsigned char made[256];
  for (int b = 0; b < 256; b++) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    // A byte without an ISO-8859-1 character, or not one byte alone: '?'.
    made[b] = (r == static_cast<size_t>(-1) || op - out != 1) ? '?' : static_cast<unsigned char>(out[0]);
  }
  iconv_close(cd);
  // Text files kept in EBCDIC on z/OS end their lines with NL (0x15), which
  // iconv gives as the C1 control NEL; no BDT record holds that, so it is
  // taken as the line end it stands for.
  if (made[0x15] == 0x85) made[0x15] = '\n';
  for (int b = 0; b < 256; b++) table[b] = made[b];
  return true;
}
