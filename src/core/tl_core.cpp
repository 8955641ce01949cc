// The doors of the conversion: the file driver runs the format sink of the
// settings over one file, the memory driver frames a text held in memory.
#include "tl_core.h"

#include <cerrno>
#include <cstring>

#include "tl_format_sink.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_layouts.h"
#include "tl_logging.h"
#include "tl_sink.h"

void tl_write(FILE* out, const char* s, size_t n) {
  if (n == 0 || tl_output_failed) return;
  if (fwrite(s, 1, n, out) != n) tl_output_failed = errno ? errno : EIO;
}

int tl_core(const char* psFileName, FILE* out) {
  // The database layout's state lasts the whole run, across the calls.
  static tl_db_state run_db;
  std::unique_ptr<tl_sink> sink = tl_open_format_sink(out, tl_format_chosen(), &run_db);
  const int rc = tl_feed(*sink, psFileName);
  sink->finish();
  return rc < 0 ? -1 : 0;
}

namespace {

// The memory driver's formats: the database layout is the CSV one here.
struct buf_format {
  tl_csv_state csv;
  tl_html_state html;
  int record(const char* rec, size_t len, tl_out& o) {
    switch (output_format) {
      case 1:
      case 9:
        return tl_csv_record(csv, rec, len, o);
      case 2:
        return tl_html_record(html, rec, len, o);
      case 3:
        return tl_xml_record(rec, len, o);
      default:
        return tl_text_record(rec, len, o);
    }
  }
};

// Per-record output of the memory driver.
constexpr size_t kBufRecordOutput = 40960;

}  // namespace

namespace {

// Where tl_core_buf puts the document: the caller's fixed buffer or a string.
struct fixed_sink {
  tl_out o;
  void put(const char* s, size_t n) { o.put(s, n); }
  void replace(const char* s, size_t n) { o.set(s, n); }
  bool full() const { return o.full; }
};
struct string_sink {
  std::string& s;
  void put(const char* p, size_t n) { s.append(p, n); }
  void replace(const char* p, size_t n) { s.assign(p, n); }
  bool full() const { return false; }
};

template <class Sink>
int core_buf(const char* psFileText, long lBufferLength, Sink& sink) {
#define PUT(lit) sink.put(lit, sizeof(lit) - 1)
#define REPLACE(lit) sink.replace(lit, sizeof(lit) - 1)
  buf_format fmt;
  switch (output_format) {
    case 1:
      if (print_header == 1) REPLACE("\t\t\"Tapelens version " TL_VERSION "\"\r\n");
      break;
    case 2:
      if (bodyonly_flag != 1) {
        REPLACE("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<HTML><HEAD>\r\n</HEAD>\r\n<BODY>\r\n");
      }
      if (print_header == 1) PUT("<H1>Tapelens version " TL_VERSION "</H1><BR>\r\n");
      break;
    case 3:
      // The header element goes inside the root, so that the document has one
      // top-level element and stays well-formed.
      REPLACE("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Tapelens>\r\n");
      if (print_header == 1) PUT("<Header>Tapelens version " TL_VERSION "</Header>\r\n");
      break;
    case 9:
      break;
    default:
      if (print_header == 1) REPLACE(TL_TEXT_HEADER);
      break;
  }

  char ucData[256];
  long lBytes = 0;
  if (debug_flag > 0) fputs("DEBUG: Starting ParseBDTfile loop\n", stderr);
  std::unique_ptr<char[]> buf_done(new char[kBufRecordOutput]);
  tl_out sDone(buf_done.get(), kBufRecordOutput);
  while (!tl_shutdown && !sink.full()) {
    if (psReadBDTbuf(psFileText, ucData, &lBytes, lBufferLength) != 0) break;
    sDone.clear();
    int iRc = fmt.record(ucData, std::strlen(ucData), sDone);
    if (iRc == 0 && !sDone.full) {
      sink.put(sDone.buf, sDone.len);
    } else {
      PUT("Error in BDT msg = 0 [");
      sink.put(ucData, std::strlen(ucData));
      PUT("]\r\n");
    }
  }

  switch (output_format) {
    case 1:
      if (print_trailer == 1) PUT(TL_CSV_TRAILER);
      break;
    case 2:
      if (tl_html_table_open(fmt.html)) PUT("</table><BR>");
      if (print_trailer == 1) {
        PUT("<font size=\"small\">" TL_NOTICE "</font><br>\r\n"
            "<a href=\"" TL_WEBSITE "\">" TL_WEBSITE "</a><br>\r\n");
        if (bodyonly_flag != 1) PUT("</BODY></HTML>\r\n\r\n");
      } else {
        PUT("</BODY></HTML>\r\n\r\n");
      }
      break;
    case 3:
      if (print_trailer == 1) PUT(TL_XML_TRAILER);
      PUT("</Tapelens>\r\n\r\n");
      break;
    case 9:
      break;
    default:
      if (print_trailer == 1) PUT(TL_PLAIN_TRAILER);
      break;
  }
#undef PUT
#undef REPLACE
  return sink.full() ? -1 : 0;
}

}  // namespace

int tl_core_buf(const char* psFileText, char* psDoneText, long lBufferLength, size_t lCapacity) {
  if (psDoneText == nullptr || lCapacity == 0) return -1;
  // The caller's text is appended to; an unterminated buffer counts as full.
  size_t used = strnlen(psDoneText, lCapacity);
  if (used == lCapacity) {
    psDoneText[lCapacity - 1] = '\0';
    return -1;
  }
  fixed_sink sink{tl_out(psDoneText, lCapacity, used)};
  return core_buf(psFileText, lBufferLength, sink);
}

int tl_core_buf(const char* psFileText, size_t lBufferLength, std::string& psDoneText) {
  string_sink sink{psDoneText};
  return core_buf(psFileText, static_cast<long>(lBufferLength), sink);
}
