// Reading BDT records and driving one formatter over one input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Reads the next record line of the file into pucData (256 bytes): at most
// 255 bytes, line end kept, a NUL byte given as a blank. Returns 0 when a
// record was delivered, -1 at end of file and on every failure (reported on
// standard error). *plByteLocation is where the next record starts; it is
// reset to 0 at the end.
int psReadBDTfile(const char* psBDTfileName, char* pucData, unsigned long* pulLength, long* plByteLocation);

// The same reading without the copy: *ppucData points at the record, NUL
// terminated, inside the reader's own block, valid until the next call.
int tl_read_record(const char* psBDTfileName, const char** ppucData, unsigned long* pulLength, long* plByteLocation);

// Closes the file the reader holds open, if any (a run stopped early).
void psReadBDTclose();

// Takes the record at *plByteLocation (records every 227 bytes) from the
// lBufferLength bytes of psBuffer into pucData (256 bytes). Returns 0 when a
// record was delivered, -1 at the end (location reset to 0).
int psReadBDTbuf(const char* psBuffer, char* pucData, long* plByteLocation, long lBufferLength);

// Writes n bytes to the output stream; a failed write is remembered in
// tl_output_failed (with its errno) so the run stops and reports it.
void tl_write(FILE* out, const char* s, size_t n);

// Converts one BDT file to a document on outfile. Returns -1 when the file
// does not exist, else 0.
int tl_core(const char* psFileName, FILE* outfile);

// Converts lBufferLength bytes of BDT text to a document appended to the
// NUL-terminated text in psDoneText (lCapacity bytes). Returns 0, or -1 when
// the document did not fit (what fitted stays NUL-terminated).
int tl_core_buf(const char* psFileText, char* psDoneText, long lBufferLength, size_t lCapacity);

// The same conversion appending to a string; returns 0.
int tl_core_buf(const char* psFileText, size_t lBufferLength, std::string& psDoneText);
