// ravelo export: the rows of CSV files written by the library, as one UTF-8
// table for analysis. Streams: each file is read line by line through one
// fixed buffer, rows are written as they are read; only the column list is
// kept whole (a first pass over the header lines finds it).
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli_common.h"
#include "common/logger_file.h"
#include "text_utf8.h"

namespace ravelo::cli {
namespace {

const char kExportHelp[] =
    "Usage: ravelo export SOURCE... [-o FILE] [--long] [--bom] [--crlf]\n"
    "\n"
    "Writes the rows of CSV files made by the library (on any system) as one\n"
    "table for analysis: UTF-8, one header line, ISO 8601 times, plain numbers.\n"
    "\n"
    "SOURCE is a CSV file, or a folder whose *.CSV files below it are read in\n"
    "the order of their paths (day and month files come out in time order).\n"
    "Sources are read in the order given; rows are written in that order. A\n"
    "line ends at LF, CR LF or CR; lines 1 to 7 are the title and the memo\n"
    "lines, never a header line.\n"
    "\n"
    "Wide form (the default): a line time,<column>,... and one line per data\n"
    "line read. A column is 'name [unit]' ('name' alone without a unit), from\n"
    "the header and unit lines in effect; a name and unit that occur again in\n"
    "one header section get ' #2', ' #3'. The columns are all those of all the\n"
    "sources, in order of first appearance; a row has an empty field for a\n"
    "column its section lacks. A section in which two columns would get one\n"
    "label is refused.\n"
    "\n"
    "Times are YYYY-MM-DDTHH:MM:SS; 24:00:00 becomes 00:00:00 of the next day.\n"
    "Numbers lose their padding, plus sign and leading zeros (+0016.3 -> 16.3,\n"
    "-0001.5 -> -1.5, 00000 -> 0), keeping the digits after the point; texts\n"
    "(compass points, times of day) stay as they are; empty fields stay empty.\n"
    "A text that a spreadsheet would run (beginning with =, +, - or @ and not\n"
    "a number) is written with a leading ' that marks it as a text.\n"
    "\n"
    "Options:\n"
    "  -o, --out FILE  write to FILE instead of standard output: into a new file\n"
    "                  beside it that replaces FILE when all is written (after\n"
    "                  a failure FILE is as it was)\n"
    "  --long          one line per field: time,column,unit,value\n"
    "  --bom           begin with a UTF-8 byte order mark (what a spreadsheet\n"
    "                  needs to see that the file is UTF-8)\n"
    "  --crlf          end lines with CR LF instead of LF\n"
    "\n"
    "A file that is not such a CSV file (no 'date,time' header line before its\n"
    "data, a line that is not code page 932 text or holds a control byte, two\n"
    "columns of one label, a data line with more fields than its header or a\n"
    "line that is neither a header, a unit nor a data line) ends the export\n"
    "with a message naming the file and the line. To standard output, the rows\n"
    "before it have been written; the first source is checked before anything\n"
    "is written.\n"
    "\n"
    "Exit codes: 0 done, 1 a source cannot be read or is not such a CSV file,\n"
    "or the output cannot be written, 2 usage error.\n";

constexpr size_t kReadBuffer = 1 << 20;   // the longest line that is read
constexpr size_t kWriteBuffer = 1 << 18;  // output handed to the system in pieces
constexpr uint64_t kIntroLines = 7;       // the title and the six memo lines

// ---- Reading ------------------------------------------------------------------

// Lines of one file through one fixed buffer. A line ends at an LF, a CR LF
// or a CR alone, and is handed out without them.
class LineReader {
 public:
  LineReader() : buffer_(kReadBuffer) {}

  bool Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    begin_ = end_ = 0;
    lfAt_ = kNone;
    lfFrom_ = 0;
    eof_ = false;
    lineNumber_ = 0;
    return fd_ >= 0;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  ~LineReader() { Close(); }

  enum Result { kLine, kEnd, kReadError, kTooLong };

  Result Next(const char** line, size_t* size) {
    for (;;) {
      char* start = buffer_.data() + begin_;
      char* const stop = buffer_.data() + end_;
      char* lf = NextLf();
      char* cr = static_cast<char*>(std::memchr(start, '\r', (lf ? lf : stop) - start));
      if (cr != nullptr && (cr + 1 < stop || eof_)) {  // a CR, and what follows it is known
        const size_t n = static_cast<size_t>(cr - start);
        begin_ += n + (cr + 1 == lf ? 2 : 1);
        return Deliver(start, n, line, size);
      }
      if (cr == nullptr && lf != nullptr) {
        const size_t n = static_cast<size_t>(lf - start);
        begin_ += n + 1;
        return Deliver(start, n, line, size);
      }
      if (eof_) {
        if (begin_ == end_) return kEnd;
        const size_t n = end_ - begin_;
        begin_ = end_;
        return Deliver(start, n, line, size);  // a last line without a line end
      }
      if (begin_ > 0) {
        std::memmove(buffer_.data(), start, end_ - begin_);
        end_ -= begin_;
        lfFrom_ = lfFrom_ > begin_ ? lfFrom_ - begin_ : 0;
        lfAt_ = kNone;
        begin_ = 0;
      }
      if (end_ == buffer_.size()) return kTooLong;
      ssize_t got = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
      if (got < 0) {
        if (errno == EINTR) continue;
        return kReadError;
      }
      if (got == 0) eof_ = true;
      end_ += static_cast<size_t>(got);
    }
  }

  // The number of the line handed out last, from 1.
  uint64_t LineNumber() const { return lineNumber_; }

 private:
  // The first LF at or after begin_, or nullptr; remembers what it searched,
  // so that a file without LFs is not searched again for every line.
  char* NextLf() {
    if (lfAt_ != kNone && lfAt_ >= begin_) return buffer_.data() + lfAt_;
    const size_t from = lfFrom_ > begin_ ? lfFrom_ : begin_;
    char* found = static_cast<char*>(std::memchr(buffer_.data() + from, '\n', end_ - from));
    lfAt_ = found ? static_cast<size_t>(found - buffer_.data()) : kNone;
    lfFrom_ = found ? 0 : end_;
    return found;
  }

  Result Deliver(char* start, size_t n, const char** line, size_t* size) {
    ++lineNumber_;
    *line = start;
    *size = n;
    return kLine;
  }

  std::vector<char> buffer_;
  int fd_ = -1;
  static constexpr size_t kNone = ~size_t{0};
  size_t begin_ = 0, end_ = 0;
  size_t lfAt_ = kNone;  // where NextLf found the next LF
  size_t lfFrom_ = 0;    // no LF lies in [begin_, lfFrom_)
  bool eof_ = false;
  uint64_t lineNumber_ = 0;
};

bool IsHeaderLine(const char* line, size_t size) {
  return size >= 9 && std::memcmp(line, "date,time", 9) == 0;
}

// The shape the library gives its data lines: at least 19 characters, the
// first ":" at index 13.
bool HasDataLineShape(const char* line, size_t size) {
  if (size < 19) return false;
  const void* colon = std::memchr(line, ':', 14);
  return colon == line + 13;
}

// ---- Sections -----------------------------------------------------------------

struct Column {
  std::string name;   // UTF-8
  std::string unit;   // UTF-8
  std::string label;  // name [unit], with #n where it repeats in the section
  std::string longName;  // name, with #n where name and unit repeat
};

// Splits a line at its commas.
void SplitFields(const char* line, size_t size, std::vector<std::pair<size_t, size_t>>* fields) {
  fields->clear();
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || line[i] == ',') {
      fields->emplace_back(start, i - start);
      start = i + 1;
    }
  }
}

// Whether a line holds a control byte (below 0x20, or 0x7F).
bool HasControlByte(const std::string& line) {
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

enum class SectionResult {
  kOk,
  kNotText,    // the header or unit line is not code page 932 text
  kSameLabel,  // two columns would have one label (in the wide or the long
               // form); *clash says which
};

// The columns of a header section from its header line and unit line (the
// unit line may be empty).
SectionResult ParseSection(Cp932ToUtf8& converter, const std::string& header,
                           const std::string& units, std::vector<Column>* columns,
                           std::string* clash) {
  std::string headerText, unitText;
  if (HasControlByte(header) || HasControlByte(units) ||
      !converter.Append(header.data(), header.size(), &headerText) ||
      !converter.Append(units.data(), units.size(), &unitText)) {
    return SectionResult::kNotText;
  }
  std::vector<std::pair<size_t, size_t>> names, unitFields;
  SplitFields(headerText.data(), headerText.size(), &names);
  SplitFields(unitText.data(), unitText.size(), &unitFields);
  columns->clear();
  // How often each name and unit occurred so far (the key is name NUL unit:
  // neither holds a control byte), and the labels given.
  std::unordered_map<std::string, int> seen;
  std::unordered_set<std::string> labels, longLabels;
  seen.reserve(names.size());
  labels.reserve(names.size());
  longLabels.reserve(names.size());
  for (size_t i = 2; i < names.size(); ++i) {
    Column c;
    c.name = headerText.substr(names[i].first, names[i].second);
    if (i < unitFields.size()) c.unit = unitText.substr(unitFields[i].first, unitFields[i].second);
    std::string base = c.unit.empty() ? c.name : c.name + " [" + c.unit + "]";
    const int count = ++seen[c.name + '\0' + c.unit];
    std::string suffix = count > 1 ? " #" + std::to_string(count) : "";
    c.label = base + suffix;
    c.longName = c.name + suffix;
    if (!labels.insert(c.label).second) {
      *clash = c.label;
      return SectionResult::kSameLabel;
    }
    if (!longLabels.insert(c.longName + '\0' + c.unit).second) {
      *clash = c.unit.empty() ? c.longName : c.longName + " [" + c.unit + "]";
      return SectionResult::kSameLabel;
    }
    columns->push_back(std::move(c));
  }
  return SectionResult::kOk;
}

// ---- Values -------------------------------------------------------------------

// A field as export writes it: a number without blanks, plus sign or leading
// zeros; a text as UTF-8. Returns false when the field is not text.
bool AppendValue(Cp932ToUtf8& converter, const char* field, size_t size, std::string* out) {
  const char* p = field;
  const char* end = field + size;
  while (p < end && *p == ' ') ++p;
  const char* q = end;
  while (q > p && q[-1] == ' ') --q;
  // A number: [+-]digits[.digits]
  const char* s = p;
  bool minus = false;
  if (s < q && (*s == '+' || *s == '-')) {
    minus = *s == '-';
    ++s;
  }
  const char* digits = s;
  while (s < q && *s >= '0' && *s <= '9') ++s;
  const char* intEnd = s;
  bool number = intEnd > digits;
  if (number && s < q && *s == '.') {
    ++s;
    const char* frac = s;
    while (s < q && *s >= '0' && *s <= '9') ++s;
    number = s > frac;
  }
  if (number && s == q) {
    if (minus) out->push_back('-');
    while (digits + 1 < intEnd && *digits == '0') ++digits;
    out->append(digits, static_cast<size_t>(q - digits));
    return true;
  }
  // A text, as it stands.
  for (const char* c = field; c < end; ++c) {
    unsigned char b = static_cast<unsigned char>(*c);
    if (b < 0x20 || b == 0x7F) return false;
  }
  if (size == 0) return true;
  std::string text;
  if (!converter.Append(field, size, &text)) return false;
  AppendCsvText(text.data(), text.size(), out);
  return true;
}

// Writes the ISO 8601 time of a data line ("2024/05/20,00:10:00") into
// out[19]. Returns false when the date or time is not a possible one (the
// calendar has no year 0).
bool IsoTime(const char* line, char* out) {
  static const int kDigitAt[14] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  for (int at : kDigitAt) {
    if (line[at] < '0' || line[at] > '9') return false;
  }
  if (line[4] != '/' || line[7] != '/' || line[10] != ',' || line[13] != ':' || line[16] != ':') {
    return false;
  }
  auto two = [&](int at) { return (line[at] - '0') * 10 + (line[at + 1] - '0'); };
  int year = two(0) * 100 + two(2), month = two(5), day = two(8);
  int hour = two(11), minute = two(14), second = two(17);
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > q38::DaysInMonth(year, month) ||
      minute > 59 || second > 59 || hour > 24 || (hour == 24 && (minute != 0 || second != 0))) {
    return false;
  }
  if (hour == 24) {  // the end of the day: 00:00:00 of the next
    hour = 0;
    if (++day > q38::DaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
    if (year > 9999) return false;
    std::snprintf(out, 20, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return true;
  }
  std::memcpy(out, line, 10);
  out[4] = '-';
  out[7] = '-';
  out[10] = 'T';
  std::memcpy(out + 11, line + 11, 8);
  return true;
}

// ---- The export -----------------------------------------------------------------

struct Options {
  std::vector<std::string> sources;
  std::string outPath;
  bool longForm = false, bom = false, crlf = false;
};

class Exporter {
 public:
  Exporter(const Options& options, int outFd)
      : options_(options), outFd_(outFd), lineEnd_(options.crlf ? "\r\n" : "\n") {
    out_.reserve(kWriteBuffer + 65536);
  }

  // Pass 1 of the wide form: the columns of every header section, in order
  // of first appearance. Files it cannot read add nothing; pass 2 reports them.
  void GatherColumns(const std::vector<std::string>& files) {
    std::vector<Column> section;
    for (const std::string& path : files) {
      if (!reader_.Open(path)) continue;
      const char* line;
      size_t size;
      std::string header;
      bool afterHeader = false;
      LineReader::Result r;
      while ((r = reader_.Next(&line, &size)) == LineReader::kLine) {
        if (reader_.LineNumber() <= kIntroLines) continue;
        if (IsHeaderLine(line, size)) {
          if (afterHeader) AddColumns(header, "", &section);
          header.assign(line, size);
          afterHeader = true;
        } else if (afterHeader) {
          afterHeader = false;
          AddColumns(header, HasDataLineShape(line, size) ? std::string() : std::string(line, size),
                     &section);
        }
      }
      if (afterHeader) AddColumns(header, "", &section);
      reader_.Close();
    }
  }

  bool WriteHeader() {
    if (options_.bom) out_.append("\xEF\xBB\xBF");
    if (options_.longForm) {
      out_.append("time,column,unit,value");
    } else {
      out_.append("time");
      for (const std::string& label : labels_) {
        out_.push_back(',');
        AppendCsvText(label.data(), label.size(), &out_);
      }
    }
    out_.append(lineEnd_);
    return Flush();
  }

  // Pass 2: the rows of one file. Returns false after a message on stderr.
  bool ExportFile(const std::string& path) {
    if (!reader_.Open(path)) {
      return Fail(path, 0, std::string("cannot be opened: ") + std::strerror(errno));
    }
    const char* line;
    size_t size;
    LineReader::Result r;
    bool inSection = false, afterHeader = false;
    std::string header;
    bool introHeader = false;  // a 'date,time' line among the title and memo lines
    while ((r = reader_.Next(&line, &size)) == LineReader::kLine) {
      const uint64_t number = reader_.LineNumber();
      if (number <= kIntroLines) {
        introHeader = introHeader || IsHeaderLine(line, size);
        continue;
      }
      if (IsHeaderLine(line, size)) {
        if (afterHeader) {
          if (!StartSection(path, number - 1, header, "")) return false;
          inSection = true;
        }
        header.assign(line, size);
        afterHeader = true;
        continue;
      }
      const bool dataShape = HasDataLineShape(line, size);
      if (afterHeader) {
        afterHeader = false;
        if (!StartSection(path, number, header, dataShape ? std::string() : std::string(line, size))) {
          return false;
        }
        inSection = true;
        if (!dataShape) continue;  // the unit line
      }
      if (size == 0) continue;
      if (!dataShape) {
        if (!inSection) continue;  // the title and memo lines
        return Fail(path, number, "neither a header, a unit nor a data line");
      }
      if (!inSection) return Fail(path, number, "a data line before any 'date,time' header line");
      if (!DataLine(path, number, line, size)) return false;
      if (out_.size() >= kWriteBuffer && !Flush()) return false;
    }
    if (r == LineReader::kReadError) {
      return Fail(path, reader_.LineNumber() + 1, std::string("read error: ") + std::strerror(errno));
    }
    if (r == LineReader::kTooLong) {
      return Fail(path, reader_.LineNumber() + 1, "the line is longer than 1 MiB");
    }
    if (afterHeader && !StartSection(path, reader_.LineNumber(), header, "")) return false;
    if (!inSection && !afterHeader) {
      return Fail(path, reader_.LineNumber(),
                  introHeader ? "no 'date,time' header line in the file (lines 1 to 7 are the "
                                "title and the six memo lines, never a header line)"
                              : "no 'date,time' header line in the file");
    }
    reader_.Close();
    return Flush();
  }

  // While set, rows are checked but not written (see RunExport).
  void Discard(bool discard) { discard_ = discard; }

  bool Flush() {
    if (discard_) {
      out_.clear();
      return true;
    }
    size_t done = 0;
    while (done < out_.size()) {
      ssize_t n = write(outFd_, out_.data() + done, out_.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        std::fprintf(stderr, "ravelo export: %s: %s\n",
                     options_.outPath.empty() ? "standard output"
                                              : WithoutControls(options_.outPath).c_str(),
                     std::strerror(errno));
        out_.clear();
        writeFailed_ = true;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    out_.clear();
    return true;
  }

  bool WriteFailed() const { return writeFailed_; }

 private:
  void AddColumns(const std::string& header, const std::string& units, std::vector<Column>* section) {
    std::string clash;
    if (ParseSection(converter_, header, units, section, &clash) != SectionResult::kOk) return;
    for (const Column& c : *section) {
      if (columnIndex_.try_emplace(c.label, labels_.size()).second) labels_.push_back(c.label);
    }
  }

  bool StartSection(const std::string& path, uint64_t number, const std::string& header,
                    const std::string& units) {
    std::string clash;
    switch (ParseSection(converter_, header, units, &section_, &clash)) {
      case SectionResult::kOk: break;
      case SectionResult::kNotText:
        return Fail(path, number, "the header or unit line is not code page 932 text");
      case SectionResult::kSameLabel:
        return Fail(path, number, "two columns of the section are named '" + clash + "'");
    }
    fieldColumn_.clear();
    longColumn_.clear();
    for (const Column& c : section_) {
      if (options_.longForm) {
        std::string text;
        AppendCsvText(c.longName.data(), c.longName.size(), &text);
        text.push_back(',');
        AppendCsvText(c.unit.data(), c.unit.size(), &text);
        text.push_back(',');
        longColumn_.push_back(std::move(text));
      } else {
        auto it = columnIndex_.find(c.label);
        if (it == columnIndex_.end()) {
          return Fail(path, number, "the file changed while it was exported (a new column)");
        }
        fieldColumn_.push_back(it->second);
      }
    }
    cells_.assign(labels_.size(), Cell{});
    return true;
  }

  bool DataLine(const std::string& path, uint64_t number, const char* line, size_t size) {
    char time[20];
    if ((size > 19 && line[19] != ',') || !IsoTime(line, time)) {
      return Fail(path, number, "the date or time cannot be read");
    }
    const char* p = line + 19;
    const char* end = line + size;
    size_t field = 0;
    if (options_.longForm) {
      while (p < end) {
        ++p;  // the comma
        const char* next = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(end - p)));
        if (next == nullptr) next = end;
        if (field >= longColumn_.size()) return TooManyFields(path, number);
        out_.append(time, 19);
        out_.push_back(',');
        out_.append(longColumn_[field]);
        if (!AppendValue(converter_, p, static_cast<size_t>(next - p), &out_)) {
          return Fail(path, number, "a field is not code page 932 text");
        }
        out_.append(lineEnd_);
        p = next;
        ++field;
      }
      return true;
    }
    ++generation_;
    values_.clear();
    while (p < end) {
      ++p;
      const char* next = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(end - p)));
      if (next == nullptr) next = end;
      if (field >= fieldColumn_.size()) return TooManyFields(path, number);
      Cell& cell = cells_[fieldColumn_[field]];
      cell.begin = static_cast<uint32_t>(values_.size());
      if (!AppendValue(converter_, p, static_cast<size_t>(next - p), &values_)) {
        return Fail(path, number, "a field is not code page 932 text");
      }
      cell.size = static_cast<uint32_t>(values_.size() - cell.begin);
      cell.generation = generation_;
      p = next;
      ++field;
    }
    out_.append(time, 19);
    for (const Cell& cell : cells_) {
      out_.push_back(',');
      if (cell.generation == generation_) out_.append(values_, cell.begin, cell.size);
    }
    out_.append(lineEnd_);
    return true;
  }

  bool TooManyFields(const std::string& path, uint64_t number) {
    return Fail(path, number, "the data line has more fields than its header line");
  }

  bool Fail(const std::string& path, uint64_t number, const std::string& what) {
    Flush();
    reader_.Close();
    const std::string shown = WithoutControls(path);
    if (number > 0) {
      std::fprintf(stderr, "ravelo export: %s: line %llu: %s\n", shown.c_str(),
                   static_cast<unsigned long long>(number), WithoutControls(what).c_str());
    } else {
      std::fprintf(stderr, "ravelo export: %s: %s\n", shown.c_str(), WithoutControls(what).c_str());
    }
    return false;
  }

  struct Cell {
    uint32_t begin = 0, size = 0;
    uint64_t generation = 0;
  };

  const Options& options_;
  const int outFd_;
  const char* const lineEnd_;
  LineReader reader_;
  Cp932ToUtf8 converter_;
  std::string out_;
  bool discard_ = false;
  bool writeFailed_ = false;
  // All columns of the wide form, and where each label stands.
  std::vector<std::string> labels_;
  std::unordered_map<std::string, size_t> columnIndex_;
  // The section in effect: its columns, and where each field goes.
  std::vector<Column> section_;
  std::vector<size_t> fieldColumn_;
  std::vector<std::string> longColumn_;  // "column,unit," of each field
  // The values of the row being written, by column.
  std::vector<Cell> cells_;
  std::string values_;
  uint64_t generation_ = 0;
};

// The files of the sources, in order: a file as it is given, a folder's
// *.CSV files below it in the order of their paths. *firstSource is the
// number of files of the first source. Returns false after a message.
bool CollectFiles(const std::vector<std::string>& sources, std::vector<std::string>* files,
                  size_t* firstSource) {
  namespace fs = std::filesystem;
  for (const std::string& source : sources) {
    const std::string shown = WithoutControls(source);
    struct stat st;
    if (stat(source.c_str(), &st) != 0) {
      std::fprintf(stderr, "ravelo export: %s: %s\n", shown.c_str(), std::strerror(errno));
      return false;
    }
    if (S_ISREG(st.st_mode)) {
      files->push_back(source);
    } else if (!S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "ravelo export: %s: neither a file nor a folder\n", shown.c_str());
      return false;
    } else {
      std::vector<std::string> found;
      std::error_code error;
      fs::recursive_directory_iterator it(source, error), end;
      for (; !error && it != end; it.increment(error)) {
        const fs::path& p = it->path();
        std::error_code typeError;
        if (p.extension() == ".CSV" && it->is_regular_file(typeError)) found.push_back(p.string());
      }
      if (error) {
        std::fprintf(stderr, "ravelo export: %s: %s\n", shown.c_str(), error.message().c_str());
        return false;
      }
      if (found.empty()) {
        std::fprintf(stderr, "ravelo export: %s: no *.CSV files below this folder\n", shown.c_str());
        return false;
      }
      std::sort(found.begin(), found.end());
      files->insert(files->end(), found.begin(), found.end());
    }
    if (&source == &sources.front()) *firstSource = files->size();
  }
  return true;
}

// The file beside the output that the export is written into, renamed over
// the output when all is written; a signal removes it.
char gPartPath[PATH_MAX + 32];

void RemovePartAndDie(int signal) {
  if (gPartPath[0] != '\0') unlink(gPartPath);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  raise(signal);
}

class Output {
 public:
  ~Output() { Abandon(); }

  // Opens the output: standard output, a file that is no regular file (a
  // device, a FIFO) as it is, or else a new file beside path. Returns false
  // after a message.
  bool Open(const std::string& path) {
    path_ = path;
    if (path.empty()) {
      fd_ = STDOUT_FILENO;
      return true;
    }
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
      fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) return Say(path_, std::strerror(errno));
      return true;
    }
    // An existing file (or what a symbolic link leads to) is replaced where it is.
    target_ = path;
    if (exists) {
      char real[PATH_MAX];
      if (realpath(path.c_str(), real) == nullptr) return Say(path_, std::strerror(errno));
      target_ = real;
    }
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string part = (slash == std::string::npos ? "" : folder) + "." + base + ".part-XXXXXX";
    if (part.size() >= PATH_MAX) return Say(path_, std::strerror(ENAMETOOLONG));
    std::memcpy(gPartPath, part.c_str(), part.size() + 1);
    sigset_t all, before;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &before);  // no signal between the file and its name
    fd_ = mkostemp(gPartPath, O_CLOEXEC);
    const int openError = errno;
    if (fd_ < 0) gPartPath[0] = '\0';
    struct sigaction action {};
    action.sa_handler = RemovePartAndDie;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd_ < 0) {
      return Say(path_, "cannot write a file in " + folder + ": " + std::strerror(openError));
    }
    part_ = gPartPath;
    // The permissions (and, where allowed, the owner) of the file it replaces,
    // else those of a new file.
    if (exists) {
      if (fchown(fd_, st.st_uid, st.st_gid) != 0) {
        // Not allowed to give it away: it stays the user's own.
      }
      fchmod(fd_, st.st_mode & 0777);
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(fd_, 0666 & ~mask);
    }
    return true;
  }

  int Fd() const { return fd_; }
  bool ToStandardOutput() const { return path_.empty(); }

  // Finishes the output: the written file replaces path. Returns false after
  // a message; the file at path is then as it was.
  bool Commit() {
    if (fd_ == STDOUT_FILENO) return true;
    bool ok = true;
    if (!part_.empty() && fsync(fd_) != 0) ok = Say(path_, std::strerror(errno));
    if (close(fd_) != 0 && ok) ok = Say(path_, std::strerror(errno));
    fd_ = -1;
    if (ok && !part_.empty() && rename(part_.c_str(), target_.c_str()) != 0) {
      ok = Say(path_, std::string("cannot be replaced: ") + std::strerror(errno));
    }
    if (ok) Forget();
    return ok;
  }

  // Removes what was written of a file that is not to replace path.
  void Abandon() {
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) close(fd_);
    fd_ = -1;
    if (!part_.empty()) unlink(part_.c_str());
    Forget();
  }

 private:
  void Forget() {
    part_.clear();
    gPartPath[0] = '\0';
  }

  static bool Say(const std::string& path, const std::string& what) {
    std::fprintf(stderr, "ravelo export: %s: %s\n", WithoutControls(path).c_str(),
                 WithoutControls(what).c_str());
    return false;
  }

  std::string path_, target_, part_;
  int fd_ = -1;
};

}  // namespace

int RunExport(int argc, char** argv) {
  Options options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && IsHelpOption(arg)) {
      std::fputs(kExportHelp, stdout);
      return kExitOk;
    }
    std::string value;
    bool missing = false;
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      options.sources.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "--long") == 0) {
      options.longForm = true;
    } else if (std::strcmp(arg, "--bom") == 0) {
      options.bom = true;
    } else if (std::strcmp(arg, "--crlf") == 0) {
      options.crlf = true;
    } else if (TakeValue(argc, argv, &i, "-o", &value, &missing) ||
               TakeValue(argc, argv, &i, "--out", &value, &missing)) {
      if (missing || value.empty()) return UsageError("export", "-o needs a FILE");
      options.outPath = value;
    } else {
      return UsageError("export", std::string("unknown option '") + arg + "'");
    }
  }
  if (options.sources.empty()) return UsageError("export", "no SOURCE was given");

  std::vector<std::string> files;
  size_t firstSource = 0;
  if (!CollectFiles(options.sources, &files, &firstSource)) return kExitFailed;

  if (!options.outPath.empty()) {
    // The output is never one of the sources.
    struct stat out;
    if (stat(options.outPath.c_str(), &out) == 0) {
      for (const std::string& f : files) {
        struct stat in;
        if (stat(f.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
          return UsageError("export",
                            "the output " + WithoutControls(options.outPath) + " is one of the sources");
        }
      }
    }
  }
  Output output;
  if (!output.Open(options.outPath)) return kExitFailed;

  Exporter exporter(options, output.Fd());
  if (!options.longForm) exporter.GatherColumns(files);
  bool ok = true;
  if (output.ToStandardOutput()) {
    // What is written cannot be taken back: the first source is read through
    // once before, so that one that is not such a CSV file writes nothing.
    exporter.Discard(true);
    for (size_t i = 0; ok && i < firstSource; ++i) ok = exporter.ExportFile(files[i]);
    exporter.Discard(false);
  }
  ok = ok && exporter.WriteHeader();
  for (size_t i = 0; ok && i < files.size(); ++i) ok = exporter.ExportFile(files[i]);
  if (!ok) {
    output.Abandon();
    return kExitFailed;
  }
  return output.Commit() ? kExitOk : kExitFailed;
}

}  // namespace ravelo::cli
