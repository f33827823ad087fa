// Private-profile (INI) services on POSIX systems, in the Windows text
// format and with the Windows services' visible behaviour:
//
// - A file is a list of lines, ended by CR, LF or both. Blanks around a line
//   are not part of it. "[name]" opens a section (the name runs to the last
//   "]" and loses its blanks); lines before the first section belong to a
//   section without a name. Any other non-empty line is a key line: the key
//   before the first "=" and the value after it, both without blanks around
//   them; a line without "=" is a key without a value, and ';' comment lines
//   are such lines too, kept as they are.
// - Names match without regard to ASCII letter case. Only the first section
//   of a name is searched, and in it the first key of a name counts.
// - Reading strips one pair of matching quotes (double or single) around a
//   value.
// - A write whose value equals the value in the file leaves the file as it
//   is. Any other write rewrites the whole file: blank lines dropped, CR LF
//   after every line, each line in the form above; the key keeps its
//   spelling in the file, a new key goes to the end of its section, a new
//   section to the end of the file. The new text goes to a temporary file in
//   the same folder, forced to the disk and renamed over the old file, so
//   that the file is always either the old or the new text. The folder
//   entry of the new name is forced to the disk by ProfileFlushWrites.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/system_path_posix.h"

namespace ravelo::platform {
namespace {

// The largest INI file handled. A bigger file is read as far as its last
// whole line within this size and is never rewritten (a write fails).
constexpr size_t kProfileFileSize = 1024 * 1024;

// One file text at a time: the buffer is shared, the lock guards it.
char fileText[kProfileFileSize];
pthread_mutex_t fileTextLock = PTHREAD_MUTEX_INITIALIZER;

class TextLock {
 public:
  TextLock() { pthread_mutex_lock(&fileTextLock); }
  ~TextLock() { pthread_mutex_unlock(&fileTextLock); }
  TextLock(const TextLock&) = delete;
  TextLock& operator=(const TextLock&) = delete;
};

// The last file rewritten since the last ProfileFlushWrites, whose folder
// entry may not be on the disk yet (guarded by the text lock). Rewrites in
// another folder flush this one's first, so one name is enough.
char unflushedFile[kSystemPathSize];
bool hasUnflushedFile = false;

void FlushUnflushedFolder() {
  if (!hasUnflushedFile) return;
  hasUnflushedFile = false;
  // Some file systems refuse to flush a folder; the file is in place
  // whatever this says.
  FolderFlushOf(unflushedFile);
}

bool SameFolder(const char* a, const char* b) {
  const char* slashA = strrchr(a, '/');
  const char* slashB = strrchr(b, '/');
  const size_t n = slashA == nullptr ? 0 : static_cast<size_t>(slashA - a);
  const size_t m = slashB == nullptr ? 0 : static_cast<size_t>(slashB - b);
  return n == m && memcmp(a, b, n) == 0;
}

// ---- Text pieces -----------------------------------------------------------

struct Span {
  const char* p;
  size_t n;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

Span Trim(Span s) {
  while (s.n > 0 && IsBlank(s.p[0])) {
    ++s.p;
    --s.n;
  }
  while (s.n > 0 && IsBlank(s.p[s.n - 1])) --s.n;
  return s;
}

Span SpanOf(const char* text) { return Span{text, strlen(text)}; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(Span a, Span b) {
  if (a.n != b.n) return false;
  for (size_t i = 0; i < a.n; ++i) {
    if (Lower(a.p[i]) != Lower(b.p[i])) return false;
  }
  return true;
}

bool Contains(Span s, char c) { return s.n > 0 && memchr(s.p, c, s.n) != nullptr; }

// ---- Lines -----------------------------------------------------------------

enum class LineKind { kSection, kKey };

struct Line {
  LineKind kind;
  Span name;       // section name or key, without blanks
  Span value;      // the value without blanks around it; for kKey only
  bool hasValue;   // the key line has "="
};

// Walks the non-empty lines of a text.
class LineReader {
 public:
  LineReader(const char* text, size_t size) : p_(text), end_(text + size) {}

  bool Next(Line* line) {
    while (p_ < end_) {
      const char* start = p_;
      while (p_ < end_ && *p_ != '\r' && *p_ != '\n') ++p_;
      Span s = Trim(Span{start, static_cast<size_t>(p_ - start)});
      if (p_ < end_) ++p_;
      if (s.n == 0) continue;
      Parse(s, line);
      return true;
    }
    return false;
  }

 private:
  static void Parse(Span s, Line* line) {
    if (s.p[0] == '[') {
      const char* close = nullptr;
      for (size_t i = s.n; i-- > 1;) {
        if (s.p[i] == ']') {
          close = s.p + i;
          break;
        }
      }
      if (close != nullptr) {
        line->kind = LineKind::kSection;
        line->name = Trim(Span{s.p + 1, static_cast<size_t>(close - s.p - 1)});
        line->value = Span{s.p, 0};
        line->hasValue = false;
        return;
      }
    }
    line->kind = LineKind::kKey;
    const char* eq = static_cast<const char*>(memchr(s.p, '=', s.n));
    if (eq == nullptr) {
      line->name = s;
      line->value = Span{s.p + s.n, 0};
      line->hasValue = false;
      return;
    }
    line->name = Trim(Span{s.p, static_cast<size_t>(eq - s.p)});
    line->value = Trim(Span{eq + 1, static_cast<size_t>(s.p + s.n - eq - 1)});
    line->hasValue = true;
  }

  const char* p_;
  const char* end_;
};

// Where a key stands in a text.
struct Found {
  bool section;    // the section exists
  bool key;        // the key exists in the first section of that name
  Line keyLine;    // the key's line when key is true
};

Found Find(const char* text, size_t size, Span section, Span key) {
  Found found = {};
  LineReader lines(text, size);
  Line line;
  // Lines before the first section header form the section without a name.
  bool inSection = section.n == 0;
  found.section = inSection;
  while (lines.Next(&line)) {
    if (line.kind == LineKind::kSection) {
      if (inSection) break;  // only the first section of the name counts
      inSection = SameName(line.name, section);
      found.section = found.section || inSection;
      continue;
    }
    if (inSection && SameName(line.name, key)) {
      found.key = true;
      found.keyLine = line;
      break;
    }
  }
  return found;
}

// ---- Reading files ---------------------------------------------------------

enum class ReadResult { kRead, kMissing, kFailed, kTooBig };

// Reads a whole file into fileText. A file bigger than the buffer reports
// kTooBig with *size covering its whole lines within the buffer.
ReadResult ReadText(const char* sysPath, size_t* size) {
  *size = 0;
  int fd = open(sysPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ReadResult::kFailed;
  }
  size_t total = 0;
  bool more = false;
  for (;;) {
    if (total == sizeof fileText) {
      char probe;
      ssize_t n = read(fd, &probe, 1);
      if (n < 0 && errno == EINTR) continue;
      more = n != 0;
      break;
    }
    ssize_t n = read(fd, fileText + total, sizeof fileText - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
    // The whole file as it stood: no second read to find its end. A file
    // that grew meanwhile is read on to its end.
    if (total == static_cast<size_t>(st.st_size) && total < sizeof fileText) break;
  }
  close(fd);
  if (more) {
    while (total > 0 && fileText[total - 1] != '\n' && fileText[total - 1] != '\r') --total;
    *size = total;
    return ReadResult::kTooBig;
  }
  *size = total;
  return ReadResult::kRead;
}

// The value of key in section as the file has it (blanks removed, quotes
// kept); false when the file, section, key or value is missing. The span
// points into fileText: call with the lock held.
bool LookUp(const char* section, const char* key, const char* file, Span* value) {
  if (section == nullptr || key == nullptr) return false;
  char p[kSystemPathSize];
  if (!SystemPath(file, p)) return false;
  size_t size = 0;
  ReadResult r = ReadText(p, &size);
  if (r != ReadResult::kRead && r != ReadResult::kTooBig) return false;
  Found found = Find(fileText, size, Trim(SpanOf(section)), Trim(SpanOf(key)));
  if (!found.key || !found.keyLine.hasValue) return false;
  *value = found.keyLine.value;
  return true;
}

Span Unquote(Span v) {
  if (v.n >= 2 && (v.p[0] == '"' || v.p[0] == '\'') && v.p[v.n - 1] == v.p[0]) return Span{v.p + 1, v.n - 2};
  return v;
}

// ---- Writing files ---------------------------------------------------------

// Writes a file through a small buffer; remembers the first failure.
class TextWriter {
 public:
  explicit TextWriter(int fd) : fd_(fd) {}

  void Put(Span s) {
    while (s.n > 0 && ok_) {
      size_t room = sizeof buffer_ - used_;
      size_t take = s.n < room ? s.n : room;
      memcpy(buffer_ + used_, s.p, take);
      used_ += take;
      s.p += take;
      s.n -= take;
      if (used_ == sizeof buffer_) Flush();
    }
  }
  void Put(const char* text) { Put(SpanOf(text)); }

  void Section(Span name) {
    Put("[");
    Put(name);
    Put("]\r\n");
  }
  void Key(Span key, bool hasValue, Span value) {
    Put(key);
    if (hasValue) {
      Put("=");
      Put(value);
    }
    Put("\r\n");
  }

  bool Flush() {
    size_t done = 0;
    while (ok_ && done < used_) {
      ssize_t n = write(fd_, buffer_ + done, used_ - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok_ = false;
      else done += static_cast<size_t>(n);
    }
    used_ = 0;
    return ok_;
  }

 private:
  int fd_;
  bool ok_ = true;
  size_t used_ = 0;
  char buffer_[8192];
};

// The keys of one rewrite; at most kMaxWriteKeys, all different.
constexpr int kMaxWriteKeys = 4;
struct KeyChange {
  Span key;
  Span value;
  Found found;
};

// The new text: the old one with each key set to its value, in the
// rewritten form. The same text as setting the keys one after the other.
void WriteNewText(TextWriter& out, const char* text, size_t size, Span section,
                  const KeyChange* changes, int count) {
  LineReader lines(text, size);
  Line line;
  bool inSection = section.n == 0;
  bool done = false;  // the section has been written with every key
  auto appendMissing = [&] {
    for (int i = 0; i < count; ++i) {
      if (!changes[i].found.key) out.Key(changes[i].key, true, changes[i].value);
    }
  };
  while (lines.Next(&line)) {
    if (line.kind == LineKind::kSection) {
      if (inSection && !done) {  // the end of the section: new keys go here
        appendMissing();
        done = true;
      }
      inSection = !done && SameName(line.name, section);
      out.Section(line.name);
      continue;
    }
    bool replaced = false;
    if (inSection && !done) {
      for (int i = 0; i < count && !replaced; ++i) {
        if (changes[i].found.key && line.name.p == changes[i].found.keyLine.name.p) {
          out.Key(line.name, true, changes[i].value);  // the spelling in the file stays
          replaced = true;
        }
      }
    }
    if (!replaced) out.Key(line.name, line.hasValue, line.value);
  }
  if (!done) {
    if (!inSection) out.Section(section);
    appendMissing();
  }
}

bool ValidKeyChange(Span sectionName, Span keyName, Span newValue) {
  // Line ends inside a name or value would make other lines of it; a key
  // with "=" or a section with "]" could not be found again.
  return !(keyName.n == 0 || Contains(sectionName, '\r') || Contains(sectionName, '\n') ||
           Contains(sectionName, ']') || Contains(keyName, '\r') || Contains(keyName, '\n') ||
           Contains(keyName, '=') || (keyName.p[0] == '[') || Contains(newValue, '\r') ||
           Contains(newValue, '\n'));
}

bool WriteProfile(const char* section, const char* const* keys, const char* const* values,
                  int count, const char* file) {
  if (section == nullptr || keys == nullptr || values == nullptr || count < 1 ||
      count > kMaxWriteKeys) {
    return false;
  }
  const Span sectionName = Trim(SpanOf(section));
  KeyChange changes[kMaxWriteKeys];
  for (int i = 0; i < count; ++i) {
    if (keys[i] == nullptr || values[i] == nullptr) return false;
    changes[i].key = Trim(SpanOf(keys[i]));
    Span newValue = SpanOf(values[i]);
    while (newValue.n > 0 && IsBlank(newValue.p[0])) {
      ++newValue.p;
      --newValue.n;
    }
    changes[i].value = newValue;
    if (!ValidKeyChange(sectionName, changes[i].key, newValue)) return false;
    for (int j = 0; j < i; ++j) {
      if (SameName(changes[j].key, changes[i].key)) return false;
    }
  }
  char target[kSystemPathSize];
  if (!SystemPath(file, target)) return false;

  TextLock lock;
  size_t size = 0;
  ReadResult r = ReadText(target, &size);
  if (r == ReadResult::kFailed || r == ReadResult::kTooBig) return false;
  bool unchanged = true;
  for (int i = 0; i < count; ++i) {
    KeyChange& c = changes[i];
    c.found = Find(fileText, size, sectionName, c.key);
    unchanged = unchanged && c.found.key && c.found.keyLine.hasValue &&
                c.found.keyLine.value.n == c.value.n &&
                memcmp(c.found.keyLine.value.p, c.value.p, c.value.n) == 0;
  }
  if (unchanged) return true;  // nothing changes: the file stays as it is

  // A temporary file beside the target, with the target's permissions.
  char temp[kSystemPathSize];
  int fd = -1;
  for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    int n = snprintf(temp, sizeof temp, "%s.%ld.%u.tmp", target, static_cast<long>(getpid()), attempt);
    if (n < 0 || static_cast<size_t>(n) >= sizeof temp) return false;
    fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  struct stat st;
  if (r == ReadResult::kRead && size > 0 && stat(target, &st) == 0) fchmod(fd, st.st_mode & 07777);

  TextWriter out(fd);
  WriteNewText(out, fileText, size, sectionName, changes, count);
  bool ok = out.Flush() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp, target) == 0;
  if (!ok) {
    unlink(temp);
    return false;
  }
  // The new name reaches the disk with the next ProfileFlushWrites.
  if (hasUnflushedFile && !SameFolder(unflushedFile, target)) FlushUnflushedFolder();
  memcpy(unflushedFile, target, sizeof unflushedFile);
  hasUnflushedFile = true;
  return true;
}

}  // namespace

int32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue, const char* file) {
  if (fault::Injected(fault::Op::kProfileRead)) return defaultValue;
  TextLock lock;
  Span value;
  if (!LookUp(section, key, file, &value)) return defaultValue;
  value = Unquote(value);
  if (value.n == 0) return defaultValue;  // an empty value counts as missing
  size_t i = 0;
  bool negative = false;
  if (value.p[0] == '-' || value.p[0] == '+') {
    negative = value.p[0] == '-';
    ++i;
  }
  uint32_t n = 0;  // wraps as the Windows service does with huge numbers
  for (; i < value.n && value.p[i] >= '0' && value.p[i] <= '9'; ++i) {
    n = n * 10u + static_cast<uint32_t>(value.p[i] - '0');
  }
  if (negative) n = 0u - n;
  return static_cast<int32_t>(n);
}

uint32_t ProfileGetString(const char* section, const char* key, const char* defaultValue, char* out,
                          uint32_t outSize, const char* file) {
  if (out == nullptr || outSize == 0) return 0;
  Span result = SpanOf(defaultValue != nullptr ? defaultValue : "");
  TextLock lock;
  Span value;
  if (!fault::Injected(fault::Op::kProfileRead) && LookUp(section, key, file, &value)) {
    result = Unquote(value);
  }
  size_t n = result.n < outSize - 1 ? result.n : outSize - 1;
  memmove(out, result.p, n);
  out[n] = '\0';
  return static_cast<uint32_t>(n);
}

int32_t ProfileFindNumberedKey(const char* section, const char* keyPrefix, int32_t count,
                               const char* defaultValue, uint32_t outSize, const char* wanted,
                               const char* file) {
  if (count < 1 || outSize == 0 || keyPrefix == nullptr || wanted == nullptr) return 0;
  const Span fallback = SpanOf(defaultValue != nullptr ? defaultValue : "");
  const size_t cut = outSize - 1;
  // Whether the text a key gives, cut as ProfileGetString cuts it, is one of
  // the two texts looked for.
  auto matches = [&](Span text) {
    const size_t n = text.n < cut ? text.n : cut;
    const size_t wantedLength = strlen(wanted);
    return (n == wantedLength && memcmp(text.p, wanted, n) == 0) ||
           (n == fallback.n && memcmp(text.p, fallback.p, n) == 0);
  };
  // A file that cannot be read gives the default for every key.
  if (fault::Injected(fault::Op::kProfileRead) || section == nullptr) {
    return matches(fallback) ? 1 : 0;
  }
  TextLock lock;
  char p[kSystemPathSize];
  size_t size = 0;
  const ReadResult r = SystemPath(file, p) ? ReadText(p, &size) : ReadResult::kFailed;
  if (r != ReadResult::kRead && r != ReadResult::kTooBig) return matches(fallback) ? 1 : 0;
  const Span sectionName = Trim(SpanOf(section));
  char key[64];
  for (int32_t i = 1; i <= count; ++i) {
    const int length = snprintf(key, sizeof key, "%s%d", keyPrefix, i);
    if (length < 0 || static_cast<size_t>(length) >= sizeof key) return 0;
    const Found found = Find(fileText, size, sectionName, Trim(SpanOf(key)));
    const Span text =
        found.key && found.keyLine.hasValue ? Unquote(found.keyLine.value) : fallback;
    if (matches(text)) return i;
  }
  return 0;
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file) {
  if (fault::Injected(fault::Op::kProfileWrite)) return false;
  return WriteProfile(section, &key, &value, 1, file);
}

bool ProfileWriteStrings(const char* section, const char* const* keys, const char* const* values,
                         int count, const char* file) {
  if (fault::Injected(fault::Op::kProfileWrite)) return false;
  return WriteProfile(section, keys, values, count, file);
}

FileHandle ProfileLockFolderOf(const char* file) {
  char p[kSystemPathSize];
  if (!SystemPath(file, p)) return kNoFile;
  char* slash = strrchr(p, '/');
  if (slash == nullptr) {
    p[0] = '.';
    p[1] = '\0';
  } else if (slash == p) {
    p[1] = '\0';  // a file in the root folder
  } else {
    *slash = '\0';
  }
  // The folder is never replaced, unlike the files in it, which every
  // rewrite renames over. Its lock belongs to this open alone, so two
  // openers in one process exclude each other too, and it goes with the
  // process if that dies.
  int fd = open(p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return kNoFile;
    }
  }
  return fd;
}

void ProfileUnlockFolder(FileHandle lock) {
  if (lock >= 0 && lock <= 0x7fffffff) close(static_cast<int>(lock));  // the lock goes with it
}

void ProfileFlushWrites() {
  TextLock lock;
  FlushUnflushedFolder();
}

}  // namespace ravelo::platform
