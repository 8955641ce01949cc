// Display-name preparation: turns the stored (scrambled) names of the record
// catalogue into the readable names that output shows.
//
// The catalogue generator compiles this unit too, with
// TL_MROT_WITHOUT_CATALOGUE defined, and uses de_mrot as the one definition of
// the character mapping when it scrambles the names; the catalogue walk is left
// out there because the generator has no catalogue to link against.
#include "tl_mrot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef TL_MROT_WITHOUT_CATALOGUE
#include "tl_bdt.h"
#include "tl_names.h"
#endif

// Readable alphabet: digits, upper-case and lower-case letters, then the eight
// single characters in the order c1..c8.
const char* const tl_mrot_plain_pieces[7] = {
    "0123456789", "ABCDEFGHIJ", "KLMNOPQRST", "UVWXYZ", "abcdefghij", "klmnopqrst", "uvwxyz",
};

// Stored alphabet: the same 62 letters and digits shuffled (no character keeps
// its place), then the eight single characters in another order.
const char* const tl_mrot_stored_pieces[7] = {
    "bWLlQSmfFx", "wtvpqryVED", "aKnd5gUzH8", "9ZcGA2", "RjksT7PCJo", "XY6B10Nh3O", "iu4IMe",
};

// The further characters of both alphabets. None of them needs escaping in a
// C string literal or quoting in a CSV cell.
const char tl_mrot_c1 = ' ';
const char tl_mrot_c2 = '-';
const char tl_mrot_c3 = '.';
const char tl_mrot_c4 = '_';
const char tl_mrot_c5 = '/';
const char tl_mrot_c6 = '(';
const char tl_mrot_c7 = ')';
const char tl_mrot_c8 = '+';

namespace {

constexpr size_t kAlphabetBlock = 71;  // 70 characters and the NUL

char plain_tail[9];
char stored_tail[9];
char* plain_alphabet = nullptr;
char* stored_alphabet = nullptr;

// Ends the process when an alphabet cannot be allocated; nothing has been
// written to any output at that point.
[[noreturn]] void alphabet_failure(const char* message, int status) {
  fwrite(message, 1, strlen(message), stderr);
  exit(status);
}

char* assemble(const char* const pieces[7], const char* tail) {
  char* block = static_cast<char*>(malloc(kAlphabetBlock));
  if (block == nullptr) return nullptr;
  memset(block, 0, kAlphabetBlock);
  for (int i = 0; i < 7; ++i) strcat(block, pieces[i]);
  strcat(block, tail);
  return block;
}

void build_alphabets() {
  const char plain_order[8] = {tl_mrot_c1, tl_mrot_c2, tl_mrot_c3, tl_mrot_c4,
                               tl_mrot_c5, tl_mrot_c6, tl_mrot_c7, tl_mrot_c8};
  const char stored_order[8] = {tl_mrot_c6, tl_mrot_c3, tl_mrot_c8, tl_mrot_c1,
                                tl_mrot_c7, tl_mrot_c5, tl_mrot_c2, tl_mrot_c4};
  for (int i = 0; i < 8; ++i) {
    plain_tail[i] = plain_order[i];
    stored_tail[i] = stored_order[i];
  }
  plain_tail[8] = '\0';
  stored_tail[8] = '\0';

  plain_alphabet = assemble(tl_mrot_plain_pieces, plain_tail);
  if (plain_alphabet == nullptr) alphabet_failure("Internal error #701\n", -701);
  stored_alphabet = assemble(tl_mrot_stored_pieces, stored_tail);
  if (stored_alphabet == nullptr) alphabet_failure("Internal error #702\n", -702);
}

}  // namespace

char* de_mrot(const char* pCryptotext, char* pPlaintext, int len) {
  // The readable character of every stored character, made with the
  // alphabets; a character the stored alphabet does not hold maps to none.
  // Where a character stood twice the last position would win, as a full
  // scan of the alphabet gives.
  static char readable_of[256];
  static bool known[256];
  if (plain_alphabet == nullptr) {
    build_alphabets();
    const size_t n = strlen(plain_alphabet);
    for (size_t j = 0; j < n; ++j) {
      const unsigned char c = static_cast<unsigned char>(stored_alphabet[j]);
      readable_of[c] = plain_alphabet[j];
      known[c] = true;
    }
  }
  if (len <= 0) return pPlaintext;
  for (int i = 0; i < len; ++i) {
    // A character that is not in the stored alphabet leaves the (zeroed)
    // output byte alone.
    const unsigned char c = static_cast<unsigned char>(pCryptotext[i]);
    if (known[c]) pPlaintext[i] = readable_of[c];
  }
  return pPlaintext;
}

#ifndef TL_MROT_WITHOUT_CATALOGUE

namespace {

// One zeroed block per name, owned by the catalogue for the whole run.
char* readable_copy(const char* stored) {
  const size_t len = strlen(stored);
  char* name = static_cast<char*>(malloc(len + 1));
  if (name == nullptr) return nullptr;
  memset(name, 0, len + 1);
  de_mrot(stored, name, static_cast<int>(len));
  return name;
}

// A name already made readable is kept, so a second call neither leaks nor
// changes anything.
void name_fields(bdt_fields_tag* fields) {
  for (bdt_fields_tag* f = fields; !bdt_is_end(*f); ++f) {
    if (f->field_name == nullptr && f->field_name2 != nullptr) {
      f->field_name = readable_copy(f->field_name2);
    }
  }
}

}  // namespace

int iDemrotStrings() {
  if (bdtr_list[0].required_suffix == 99) return 0;
  for (bdt_record_tag* r = bdtr_list; r->required_suffix != 99; ++r) {
    if (r->record_name == nullptr && r->record_name2 != nullptr) {
      r->record_name = readable_copy(r->record_name2);
      // Without its own name the layout keeps its field names unset as well.
      if (r->record_name == nullptr) continue;
    }
    if (r->fields != nullptr) name_fields(r->fields);
  }
  name_fields(bdtf_common);
  tl_name_texts::names_changed();
  return 0;
}

#endif  // TL_MROT_WITHOUT_CATALOGUE
