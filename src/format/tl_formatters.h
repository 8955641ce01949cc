// The output formatters. Each appends one record's output to the buffer it
// is given and returns 0; each has a reset routine the driver calls once per
// input before the document header.
#pragma once

#include <cstddef>
#include <cstdio>

#include "tl_out.h"

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
// Returns 1 while an inline table is open (the driver closes it at the end).
int iHTMLtableOpen();

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
// psParseBDTrecord* entry measures the record and calls its own.
int tl_text_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_csv_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_anon_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_xml_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_html_record(const char* pucData, size_t len, tl_out& psTarget);
int tl_db_record(const char* pucData, size_t len, tl_out& psTarget);
