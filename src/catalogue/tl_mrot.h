// Display-name preparation: the catalogue stores every name scrambled; the
// readable names are made once at start-up.
#pragma once

// The pieces the two alphabets are assembled from (shared with the catalogue
// generator, which scrambles the names with them). Each alphabet is the
// concatenation of its eight pieces: 10, 10, 10, 6, 10, 10, 6 and 8 characters.
// The 8-character pieces are filled at run time from the single characters.
extern const char* const tl_mrot_plain_pieces[7];
extern const char* const tl_mrot_stored_pieces[7];
extern const char tl_mrot_c1, tl_mrot_c2, tl_mrot_c3, tl_mrot_c4, tl_mrot_c5, tl_mrot_c6,
    tl_mrot_c7, tl_mrot_c8;

// Writes the readable form of the first len characters of pCryptotext into
// pPlaintext (zeroed by the caller, len + 1 bytes) and returns pPlaintext.
// Exits with status -701/-702 when the alphabets cannot be allocated.
char* de_mrot(const char* pCryptotext, char* pPlaintext, int len);

// Gives every catalogue entry its readable name; always returns 0.
int iDemrotStrings();
