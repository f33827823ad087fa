// Checks the platform layer (src/platform/platform.h) against its contract,
// built once with the Windows implementation (run under Wine) and once with
// the POSIX one. Both runs must pass every check, and their transcripts
// (results and the exact bytes of the INI files written) must be equal.
//
//   platform_check FOLDER TRANSCRIPT
//
// FOLDER is an empty folder, written with "\" separators on Windows (paths
// are built with "\", as the engine builds them, on both systems).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

namespace p = ravelo::platform;

int passed = 0, failed = 0;
std::FILE* transcript = nullptr;
std::string root;

std::string Path(const char* name) { return root + "\\" + name; }

void Check(bool ok, const char* what) {
  (ok ? passed : failed)++;
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", what);
  std::fprintf(transcript, "%s %s\n", ok ? "ok" : "NOT", what);
}

// The file's bytes, as read through the layer itself.
std::string Contents(const std::string& path) {
  p::FileHandle f = p::FileOpenRead(path.c_str());
  if (f == p::kNoFile) return "<none>";
  std::string text;
  char buffer[4096];
  uint32_t got = 0;
  while (p::FileRead(f, buffer, sizeof buffer, &got) && got > 0) text.append(buffer, got);
  p::FileClose(f);
  return text;
}

void Dump(const char* label, const std::string& path) {
  std::string text = Contents(path);
  std::fprintf(transcript, "%s: ", label);
  for (unsigned char c : text) {
    if (c == '\r')
      std::fputs("\\r", transcript);
    else if (c == '\n')
      std::fputs("\\n", transcript);
    else if (c < 0x20 || c >= 0x7F)
      std::fprintf(transcript, "\\x%02X", c);
    else
      std::fputc(c, transcript);
  }
  std::fputc('\n', transcript);
}

bool WriteText(const std::string& path, const char* text) {
  p::FileHandle f = p::FileCreateFresh(path.c_str());
  if (f == p::kNoFile) return false;
  uint32_t written = 0;
  uint32_t n = static_cast<uint32_t>(std::strlen(text));
  bool ok = p::FileWrite(f, text, n, &written) && written == n && p::FileFlush(f);
  p::FileClose(f);
  return ok;
}

void Files() {
  std::string a = Path("a.txt"), b = Path("b.txt"), sub = Path("sub");
  Check(p::PathKindOf(a.c_str()) == p::PathKind::kNone, "nothing at a new name");
  Check(WriteText(a, "hello, world"), "create and write a file");
  Check(p::PathKindOf(a.c_str()) == p::PathKind::kFile, "a file is a file");
  Check(p::FolderCreate(sub.c_str()), "create a folder");
  Check(!p::FolderCreate(sub.c_str()), "creating an existing folder fails");
  Check(!p::FolderCreate(a.c_str()), "creating a folder over a file fails");
  Check(p::PathKindOf(sub.c_str()) == p::PathKind::kFolder, "a folder is a folder");
  Check(p::FileOpenRead(sub.c_str()) == p::kNoFile, "a folder cannot be opened as a file");
  Check(p::FileCreateFresh(sub.c_str()) == p::kNoFile, "a folder cannot be created as a file");
  Check(p::FileOpenRead(Path("missing").c_str()) == p::kNoFile, "a missing file cannot be opened");

  p::FileHandle f = p::FileOpenRead(a.c_str());
  Check(f != p::kNoFile, "open for reading");
  char buffer[64] = {};
  uint32_t got = 0;
  Check(p::FileRead(f, buffer, 5, &got) && got == 5 && std::memcmp(buffer, "hello", 5) == 0,
        "read the first 5 bytes");
  Check(p::FileSeek(f, 7) && p::FileRead(f, buffer, sizeof buffer, &got) && got == 5 &&
            std::memcmp(buffer, "world", 5) == 0,
        "seek to 7 and read to the end");
  Check(p::FileRead(f, buffer, sizeof buffer, &got) && got == 0, "a read at the end gives 0 bytes");
  Check(!p::FileSeek(f, 0x80000000u), "a seek to 0x80000000 fails");
  Check(!p::FileSeek(f, 0xFFFFFFFFu), "a seek to 0xFFFFFFFF fails");
  Check(p::FileSeek(f, 0x7FFFFFFFu) && p::FileRead(f, buffer, 8, &got) && got == 0,
        "a seek past the end succeeds and reads nothing");

  // Others may read while it is open for reading, nobody may write.
  p::FileHandle g = p::FileOpenRead(a.c_str());
  Check(g != p::kNoFile, "a second reader may open it");
  p::FileClose(g);
  Check(p::FileCreateFresh(a.c_str()) == p::kNoFile, "no writer while a reader holds it");
  Check(Contents(a) == "hello, world", "the failed create left the file untouched");
  Check(!p::FileRemove(a.c_str()) || p::PathKindOf(a.c_str()) == p::PathKind::kNone,
        "a file held open is deleted wholly or not at all");
  p::FileClose(f);
  if (p::PathKindOf(a.c_str()) == p::PathKind::kNone) WriteText(a, "hello, world");

  // A writer holds the file alone.
  p::FileHandle w = p::FileCreateFresh(b.c_str());
  Check(w != p::kNoFile, "create another file");
  Check(p::FileOpenRead(b.c_str()) == p::kNoFile, "no reader while a writer holds it");
  Check(p::FileCreateFresh(b.c_str()) == p::kNoFile, "no second writer");
  uint32_t written = 0;
  Check(p::FileWrite(w, "12345", 5, &written) && written == 5, "write 5 bytes");
  Check(p::FileFlush(w), "flush");
  p::FileClose(w);
  p::FileClose(p::kNoFile);  // nothing happens
  Check(Contents(b) == "12345", "the written bytes are there");
  Check(WriteText(b, "xy") && Contents(b) == "xy", "a fresh file replaces an existing one");

  // Renames and deletions.
  std::string c = Path("c.txt");
  Check(p::FileRenameReplace(a.c_str(), c.c_str()), "rename to a free name");
  Check(p::PathKindOf(a.c_str()) == p::PathKind::kNone && Contents(c) == "hello, world",
        "the file has its new name");
  Check(p::FileRenameReplace(c.c_str(), b.c_str()), "rename replacing a file");
  Check(p::PathKindOf(c.c_str()) == p::PathKind::kNone && Contents(b) == "hello, world",
        "the replaced file holds the new bytes");
  Check(p::FileRenameReplace(b.c_str(), a.c_str()), "rename replacing nothing");
  Check(p::FolderFlushOf(a.c_str()), "folder flush");
  Check(!p::FileRemove(sub.c_str()), "a folder is not deleted as a file");
  Check(!p::FileRemove(Path("missing").c_str()), "deleting a missing file fails");
  Check(p::FileRemove(a.c_str()) && p::PathKindOf(a.c_str()) == p::PathKind::kNone,
        "delete a file");
  Check(!p::IsLeadByte('A') && !p::IsLeadByte('\\'), "ASCII bytes are no lead bytes");
  p::SleepMilliseconds(1);
}

void Profiles() {
  std::string ini = Path("Attr.ini");
  const char* file = ini.c_str();
  char out[260];
  Check(p::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, file) == 0, "missing file: default int");
  Check(p::ProfileGetString("FILE_INFO", "FILE_PATH1", "", out, sizeof out, file) == 0 &&
            out[0] == '\0',
        "missing file: default text");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "1", file), "first write creates");
  Dump("after FILE_COUNT=1", ini);
  Check(p::ProfileWriteString("FILE_INFO", "FILE_PATH1", "C:\\work\\CSV\\Day\\LOG_20240131.CSV",
                              file),
        "second key");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "2", file), "update a key");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_PATH2", "D:\\x\\LOG_20240201.CSV", file),
        "third key");
  Dump("after two entries", ini);
  Check(p::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, file) == 2, "read the count");
  Check(p::ProfileGetInt("file_info", "file_count", 0, file) == 2, "names match in any case");
  Check(p::ProfileGetString("FILE_INFO", "FILE_PATH1", "", out, sizeof out, file) == 32 &&
            std::strcmp(out, "C:\\work\\CSV\\Day\\LOG_20240131.CSV") == 0,
        "read a path");
  Check(p::ProfileGetString("FILE_INFO", "FILE_PATH1", "", out, 8, file) == 7 &&
            std::strcmp(out, "C:\\work") == 0,
        "a value is cut to the buffer");
  Check(p::ProfileGetString("FILE_INFO", "FILE_PATH9", "dflt", out, sizeof out, file) == 4 &&
            std::strcmp(out, "dflt") == 0,
        "missing key: the default");
  Check(p::ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 2, "\x01", sizeof out,
                                  "D:\\x\\LOG_20240201.CSV", file) == 2,
        "find a numbered key by its value");
  Check(p::ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 2, "\x01", sizeof out, "E:\\y",
                                  file) == 0 &&
            p::ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 3, "\x01", sizeof out, "E:\\y",
                                      file) == 3,
        "a value not there, then a missing key that gives the default");
  Check(p::ProfileGetInt("OTHER", "FILE_COUNT", 77, file) == 77, "missing section: the default");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "-3", file) &&
            p::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, file) == -3,
        "a negative count reads as negative");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "12abc", file) &&
            p::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, file) == 12,
        "leading digits count");
  Check(p::ProfileWriteString("OTHER", "Q", "\"quoted\"", file) &&
            p::ProfileGetString("OTHER", "Q", "", out, sizeof out, file) == 6 &&
            std::strcmp(out, "quoted") == 0,
        "one pair of quotes is removed");
  Dump("after a second section", ini);

  // Deleted behind the service's back: reads as missing, written anew.
  Check(p::FileRemove(file), "delete the INI file");
  Check(p::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, file) == 0, "a deleted file reads as empty");
  Check(p::ProfileGetString("FILE_INFO", "FILE_PATH1", "", out, sizeof out, file) == 0,
        "no path in a deleted file");
  Check(p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "1", file), "write after deletion");
  Dump("written anew", ini);
  Check(Contents(ini) == "[FILE_INFO]\r\nFILE_COUNT=1\r\n", "a new file holds only the new key");
  Check(!p::ProfileWriteString("FILE_INFO", "FILE_COUNT", "1",
                               Path("nofolder\\x.ini").c_str()),
        "a write into a missing folder fails");
}

// Commits of merged files: the temporary file is always a new one, and it
// replaces only the file that was read.
void Replacements() {
  std::string csv = Path("r.csv"), tmp = Path("r.tmp"), other = Path("r.other");
  Check(WriteText(csv, "old rows") && WriteText(tmp, "left behind"), "a file and a leftover");
  p::FileHandle w = p::FileCreateFresh(tmp.c_str());
  Check(w != p::kNoFile, "a fresh file over a leftover");
  Check(p::FileCreateFresh(tmp.c_str()) == p::kNoFile, "no fresh file while it is held");
  Check(p::FileCreateFresh(Path("sub").c_str()) == p::kNoFile, "a folder is never removed");

  p::FileHandle r = p::FileOpenRead(csv.c_str());
  p::FileId read = {}, again = {};
  p::FileHandle r2 = p::FileOpenRead(csv.c_str());
  Check(p::FileIdOf(r, &read) && p::FileIdOf(r2, &again) && read.volume == again.volume &&
            read.index == again.index,
        "two opens of one file have one identity");
  p::FileIdRelease(&again);
  p::FileClose(r2);
  p::FileClose(r);

  // Another file at the name: nothing is renamed.
  Check(WriteText(other, "other rows") && p::FileRenameReplace(other.c_str(), csv.c_str()),
        "another file takes the name");
  uint32_t written = 0;
  Check(p::FileWrite(w, "merged", 6, &written) && written == 6, "write the merged text");
  p::ReplaceTarget found = p::ReplaceTarget::kExpected;
  Check(!p::FileCloseReplacing(w, tmp.c_str(), csv.c_str(), &read, &found) &&
            found == p::ReplaceTarget::kOtherFile && Contents(csv) == "other rows" &&
            Contents(tmp) == "merged",
        "no commit over another file");

  // The file read still at the name: replaced.
  r = p::FileOpenRead(csv.c_str());
  p::FileId now = {};
  Check(p::FileIdOf(r, &now), "the identity of the file at the name");
  p::FileClose(r);
  w = p::FileCreateFresh(tmp.c_str());
  Check(p::FileWrite(w, "merged", 6, &written) &&
            p::FileCloseReplacing(w, tmp.c_str(), csv.c_str(), &now, &found) &&
            Contents(csv) == "merged" && p::PathKindOf(tmp.c_str()) == p::PathKind::kNone,
        "a commit over the file read");
  p::FileIdRelease(&now);
  p::FileIdRelease(&read);

  // Nothing at the name.
  Check(p::FileRemove(csv.c_str()), "the file is deleted");
  w = p::FileCreateFresh(tmp.c_str());
  Check(!p::FileCloseReplacing(w, tmp.c_str(), csv.c_str(), &now, &found) &&
            found == p::ReplaceTarget::kMissing && Contents(tmp) == "",
        "no commit where the file read is gone");
  p::FileRemove(tmp.c_str());

  // The lock of the listings' folder can be taken again once let go.
  p::FileHandle lock = p::ProfileLockFolderOf(Path("x.ini").c_str());
  Check(lock != p::kNoFile, "lock the listings' folder");
  p::ProfileUnlockFolder(lock);
  lock = p::ProfileLockFolderOf(Path("x.ini").c_str());
  Check(lock != p::kNoFile, "lock it again");
  p::ProfileUnlockFolder(lock);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER TRANSCRIPT\n", argv[0]);
    return 2;
  }
  root = argv[1];
  transcript = std::fopen(argv[2], "wb");
  if (!transcript) return 2;
  Files();
  Profiles();
  Replacements();
  std::fclose(transcript);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
