// The engine's only door to the operating system.
//
// Paths are built by the engine with "\" as separator. The POSIX
// implementation treats each "\" as "/" when it calls the system; texts the
// engine stores keep the path as built. Every operation reports failure by
// its result and never throws. One implementation per system:
// platform_posix.cc and platform_win32.cc, chosen at build time.
#pragma once

#include <cstdint>

namespace ravelo::platform {

// An open file, or kNoFile.
using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class PathKind { kNone, kFile, kFolder };

// Opens an existing file for reading. Others may read it meanwhile but not
// write or delete it; fails while someone else writes it, and for a folder.
FileHandle FileOpenRead(const char* path);

// Creates a new file for writing. Nobody else may open or delete it while it
// is open. Fails when anything exists at path already: an existing file is
// never emptied.
FileHandle FileCreateNew(const char* path);

// Creates a file for writing that can only be a new one: a regular file
// left at path (a hard link to another file included) is removed first, so
// that nothing it shares its contents with is ever written. Fails, leaving
// things as they are, while another open holds the file at path, when
// anything but a regular file is there (a folder, a symbolic link), and
// when something takes the name between the removal and the creation.
FileHandle FileCreateFresh(const char* path);

// The identity of an open file: two opens of the same file give equal
// values. Until FileIdRelease no other file can come to have it, even once
// `file` is closed and the file deleted (on POSIX a second open, without any
// lock, keeps the file from being reused; Windows never reuses one).
struct FileId {
  uint64_t volume;
  uint64_t index;
  FileHandle pin;
};
bool FileIdOf(FileHandle file, FileId* id);
void FileIdRelease(FileId* id);

// Reads up to size bytes. Returns false on failure; *got is the number of
// bytes delivered in either case (0 at the end of the file). A failing read
// may still report bytes delivered.
bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* got);

// Writes size bytes. Returns false on failure; *written tells how many were
// written (fewer than size counts as failure too).
bool FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* written);

// Moves to offset from the beginning. Fails for an offset of 0x80000000 or
// more, as a signed 32-bit move does.
bool FileSeek(FileHandle file, uint32_t offset);

// Forces the file's written bytes to the disk.
bool FileFlush(FileHandle file);

// Closes the file; nothing happens for kNoFile.
void FileClose(FileHandle file);

// What exists at path: nothing, a file or a folder.
PathKind PathKindOf(const char* path);

// Creates one folder level. Fails when anything exists at path already.
bool FolderCreate(const char* path);

// Deletes a file. Fails for a folder, for a missing file, and while another
// program holds the file open.
bool FileRemove(const char* path);

// Replaces `to` by `from` in one atomic step (`to` may be missing). Fails
// while another program holds `to` open; `to` is then unchanged.
bool FileRenameReplace(const char* from, const char* to);

// What FileCloseReplacing found at `to` when it was given the file expected
// there.
enum class ReplaceTarget { kExpected, kOtherFile, kMissing };

// Like FileRenameReplace for `from`, which is open as `file` (for writing,
// by FileCreateFresh): the name changes while the file is
// still held, so nobody can take `from` in between; then `file` is closed,
// also on failure. Before it takes the name, `file` gets the permission bits
// of the file at `to` and, where the process may give it, its owner.
// With expected, `to` is replaced only while it names that very file: on
// POSIX `to` is held from the check to the rename, so that no other run of
// this library can put another file there in between; on Windows it is
// checked just before the move. Otherwise nothing is renamed, the result is
// false and *found (when given) tells what was there.
bool FileCloseReplacing(FileHandle file, const char* from, const char* to,
                        const FileId* expected = nullptr, ReplaceTarget* found = nullptr);

// True while another program holds the file at path open, so that deleting
// or replacing it would fail for that reason. False for a missing path and
// for anything that is not a file.
bool FileIsHeld(const char* path);

// Forces the folder entry changes of the folder that holds path to the disk
// (nothing to do where the system has no such notion).
bool FolderFlushOf(const char* path);

// Waits ms milliseconds.
void SleepMilliseconds(uint32_t ms);

// True when c is the lead byte of a double-byte character in the system's
// ANSI code page. Never true on POSIX, where paths are UTF-8.
bool IsLeadByte(unsigned char c);

// ---- Private-profile (INI) services, Windows text format ----------------
// Section and key names match without regard to letter case.

// The integer value of key in section: optional sign and leading digits
// ("-3" gives -3, "12abc" gives 12); defaultValue when the file, section or
// key is missing.
int32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue,
                      const char* file);

// Copies the value of key (blanks around it and one pair of matching quotes
// removed) or defaultValue into out, cut to outSize - 1 bytes and
// zero-terminated. Returns the number of bytes copied without the zero.
uint32_t ProfileGetString(const char* section, const char* key, const char* defaultValue,
                          char* out, uint32_t outSize, const char* file);

// Looks through the keys "<keyPrefix>1" .. "<keyPrefix><count>" of section
// in that order and returns the number of the first whose text, as
// ProfileGetString(section, key, defaultValue, out, outSize, file) would
// copy it, equals wanted or defaultValue; 0 when none does (or count < 1).
// On POSIX the file is read once for all the keys.
int32_t ProfileFindNumberedKey(const char* section, const char* keyPrefix, int32_t count,
                               const char* defaultValue, uint32_t outSize, const char* wanted,
                               const char* file);

// Sets key in section to value: updates the key in place, or appends it to
// its section, or appends the section; creates the file on the first write.
// The file is rewritten through a temporary file and a rename, so that it is
// always either the old or the new text. Returns false on failure (for
// example a missing folder).
bool ProfileWriteString(const char* section, const char* key, const char* value,
                        const char* file);

// Sets count (1..4) different keys of one section to their values, with the
// text that as many ProfileWriteString calls in that order would give. On
// POSIX the file changes in one rewrite, from the old text to the text with
// every key set; on Windows the keys are written one after the other, and a
// failure stops at the key that failed.
bool ProfileWriteStrings(const char* section, const char* const* keys, const char* const* values,
                         int count, const char* file);

// Makes the read-modify-write of the listings in the folder of file
// exclusive between processes: from ProfileLockFolderOf to
// ProfileUnlockFolder, no other caller gets the lock of that folder; it
// waits for the holder. On POSIX the lock is held on the folder itself,
// which no rewrite replaces; on Windows it is a mutex named after the
// folder, which excludes the processes of one logon session on one machine.
// Returns kNoFile when no lock could be taken (a missing folder, or a
// system that refuses it); the caller goes on without.
FileHandle ProfileLockFolderOf(const char* file);
void ProfileUnlockFolder(FileHandle lock);

// On POSIX the two writes above put the new text on the disk before it takes
// the file's name; the folder entry of that name reaches the disk here, once
// for all the writes since the last call (a FolderFlushOf, whose failure is
// not reported since the files are in place). Nothing to do on Windows.
// Call it before anything that must not reach the disk ahead of the
// listings, and before reporting work done.
void ProfileFlushWrites();

}  // namespace ravelo::platform
