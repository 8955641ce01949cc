// The output formatters. Each appends one record's output to the buffer it
// is given and returns 0; each has a reset routine the driver calls once per
// input before the document header.
#pragma once

#include <cstddef>
#include <cstdio>

#include "tl_globals.h"
#include "tl_out.h"

// The texts of the document frames that the file and memory drivers share.
#define TL_VERSION_LINE "Tapelens version " TL_VERSION "\r\n"
#define TL_TEXT_HEADER TL_VERSION_LINE "\t============================\r\n"
#define TL_PLAIN_TRAILER TL_NOTICE "\r\n" TL_WEBSITE "\r\n"
#define TL_CSV_TRAILER "\"" TL_NOTICE "\"\r\n" TL_WEBSITE "\r\n"
#define TL_XML_TRAILER "<!-- " TL_NOTICE " -->\r\n<!-- " TL_WEBSITE " -->\r\n"

// The state a format keeps from one record to the next. Each sink holds its
// own; the per-record entries of the formats below (psParseBDTrecord_csv and
// the others) share one per format for callers that keep none. All are plain
// values, so that a worker thread can start from a copy of them.

// CSV and anon CSV: the key of the record in hand, and the key of the inline
// layout whose header line came last (empty when the next one needs it).
struct tl_csv_state {
  char sRecord[32] = {};
  char sCurrentRecord[32] = {};
};

// HTML: as CSV, keys followed by ": ", and the rows written into the open
// inline table (0 while none is open).
struct tl_html_state {
  char sRecord[32] = {};
  size_t sRecordLen = 0;
  char sCurrentRecord[32] = {};
  size_t sCurrentRecordLen = 0;
  int intable = 0;
};

// Database layout: the key of the last header line, the running index and
// its decimal text, made again only when the index changes.
struct tl_db_state {
  char sRecord[32] = {};
  size_t sRecordLen = 0;
  char sCurrentRecord[32] = {};
  size_t sCurrentRecordLen = 0;
  int iIndexRecord = 0;
  char digits[16] = {};
  unsigned char digits_len = 0;  // length of the index text at the end of digits; 0: not made
  int made_for = 0;
};

// Text (the default format).
int init_bdt_text();
int psParseBDTrecord(const char* pucData, int flag, tl_out& psTarget);
int psParseBDTcommonFields(const char* pucData, tl_out& psTarget);
int psParseBDTfields(const char* pucData, int rindex, tl_out& psTarget);

// CSV.
int init_bdt_csv();
int psParseBDTrecord_csv(const char* pucData, tl_out& psTarget);
int psParseBDTcommonFields_csv(const char* pucData, tl_out& psTarget);
int psParseBDTfields_csv(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_csv_header(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_csv_inline(const char* pucData, int rindex, tl_out& psTarget);

// Anon CSV: the CSV record lines with state of its own.
int init_bdt_anon();
int psParseBDTrecord_anon(const char* pucData, tl_out& psTarget);
int psParseBDTcommonFields_anon(const char* pucData, tl_out& psTarget);
int psParseBDTfields_anon(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_anon_header(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_anon_inline(const char* pucData, int rindex, tl_out& psTarget);

// XML.
int init_bdt_xml();
int psParseBDTrecord_xml(const char* pucData, tl_out& psTarget);
int psParseBDTcommonFields_xml(const char* pucData, tl_out& psTarget);
int psParseBDTfields_xml(const char* pucData, int rindex, tl_out& psTarget);

// HTML, and the page header the file driver writes before the records.
int init_bdt_html();
int psHTML_tl_header(tl_out& outfile, const char* customer, int print_header);
int psParseBDTrecord_html(const char* pucData, tl_out& psTarget);
int psParseBDTcommonFields_html(const char* pucData, tl_out& psTarget);
int psParseBDTfields_html(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_html_header(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTfields_html_inline(const char* pucData, int rindex, tl_out& psTarget);
// Returns true while an inline table is open (the driver closes it at the end).
inline bool tl_html_table_open(const tl_html_state& st) { return st.intable > 0; }

// Database load layout; its state lasts the whole run.
int psParseBDTrecord_db(const char* pucData, tl_out& psTarget);
int psParseBDTcommonFields_db_header(const char* pucData, tl_out& psTarget);
int psParseBDTfields_db_header(const char* pucData, int rindex, tl_out& psTarget);
int psParseBDTcommonFields_db(const char* pucData, tl_out& psTarget);
int psParseBDTfields_db_inline(const char* pucData, int rindex, tl_out& psTarget);
// Forgets the database layout's state (program start; used by tests).
void reset_bdt_db();

// The per-record entries of the formats for a record whose length
// (strlen(pucData)) the caller already knows, as the drivers do; each
// psParseBDTrecord* entry measures the record and calls its own with the
// format's shared state.
int tl_text_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_xml_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_csv_record(tl_csv_state& st, const char* pucData, size_t len, tl_out& psTarget);
int tl_html_record(tl_html_state& st, const char* pucData, size_t len, tl_out& psTarget);
int tl_db_record(tl_db_state& st, const char* pucData, size_t len, tl_out& psTarget);

// Advance a format's state over one record exactly as its record entry
// would, writing nothing: a worker thread starts a block from the state the
// records before it leave.
void tl_csv_skim(tl_csv_state& st, const char* pucData, size_t len);
void tl_html_skim(tl_html_state& st, const char* pucData, size_t len);
void tl_db_skim(tl_db_state& st, const char* pucData, size_t len);
