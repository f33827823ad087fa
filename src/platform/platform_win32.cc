// The platform layer on Windows: straight calls of KERNEL32. Paths are handed
// to the system exactly as the engine built them ("\" separators, ANSI code
// page). This is the only file of the Windows build that includes
// <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/fault.h"
#include "platform/platform.h"

namespace ravelo::platform {

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

}  // namespace

static_assert(sizeof(FileHandle) == sizeof(HANDLE), "a handle fits in FileHandle");

FileHandle FileOpenRead(const char* path) {
  if (fault::Injected(fault::Op::kOpenRead)) return kNoFile;
  return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}


FileHandle FileCreateNew(const char* path) {
  if (fault::Injected(fault::Op::kCreate)) return kNoFile;
  return FromHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle FileCreateFresh(const char* path) {
  if (fault::Injected(fault::Op::kCreate)) return kNoFile;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // Only a plain file is removed; a hard link loses just this name. The
    // removal fails while another program holds the file.
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        !DeleteFileA(path)) {
      return kNoFile;
    }
  }
  return FromHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

bool IdOfHandle(HANDLE handle, FileId* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (id == nullptr || !GetFileInformationByHandle(handle, &info)) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace

bool FileIdOf(FileHandle file, FileId* id) {
  if (id != nullptr) id->pin = kNoFile;
  // The file index carries a sequence number: it is never given again.
  return file != kNoFile && IdOfHandle(ToHandle(file), id);
}

void FileIdRelease(FileId* id) {
  if (id != nullptr) id->pin = kNoFile;
}

bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  int32_t partial = -1;
  if (fault::Injected(fault::Op::kRead, &partial)) {
    if (partial > 0) {
      DWORD done = 0;
      DWORD want = static_cast<uint32_t>(partial) < size ? static_cast<DWORD>(partial) : size;
      if (ReadFile(ToHandle(file), buffer, want, &done, nullptr)) *got = done;
    }
    return false;
  }
  if (file == kNoFile) return false;
  DWORD done = 0;
  BOOL ok = ReadFile(ToHandle(file), buffer, size, &done, nullptr);
  *got = done;
  return ok != FALSE;
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
  *written = 0;
  int32_t partial = -1;
  if (fault::Injected(fault::Op::kWrite, &partial)) {
    if (partial > 0) {
      DWORD done = 0;
      DWORD want = static_cast<uint32_t>(partial) < size ? static_cast<DWORD>(partial) : size;
      if (WriteFile(ToHandle(file), buffer, want, &done, nullptr)) *written = done;
    }
    return false;
  }
  if (file == kNoFile) return false;
  DWORD done = 0;
  BOOL ok = WriteFile(ToHandle(file), buffer, size, &done, nullptr);
  *written = done;
  return ok != FALSE && done == size;
}

bool FileSeek(FileHandle file, uint32_t offset) {
  if (fault::Injected(fault::Op::kSeek)) return false;
  // Without a high part the distance is a signed 32-bit number: an offset of
  // 0x80000000 or more is a move before the beginning, which the system
  // refuses. Refused here too, whatever the system would make of it.
  if (offset >= 0x80000000u || file == kNoFile) return false;
  return SetFilePointer(ToHandle(file), static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
         INVALID_SET_FILE_POINTER;
}

bool FileFlush(FileHandle file) {
  if (fault::Injected(fault::Op::kFlush)) return false;
  if (file == kNoFile) return false;
  return FlushFileBuffers(ToHandle(file)) != FALSE;
}

void FileClose(FileHandle file) {
  if (file != kNoFile) CloseHandle(ToHandle(file));
}

PathKind PathKindOf(const char* path) {
  if (fault::Injected(fault::Op::kPathKind)) return PathKind::kNone;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNone;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
}

bool FolderCreate(const char* path) {
  if (fault::Injected(fault::Op::kFolderCreate)) return false;
  return CreateDirectoryA(path, nullptr) != FALSE;
}

bool FileRemove(const char* path) {
  if (fault::Injected(fault::Op::kRemove)) return false;
  return DeleteFileA(path) != FALSE;
}


bool FileRenameReplace(const char* from, const char* to) {
  if (fault::Injected(fault::Op::kRenameReplace)) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FileCloseReplacing(FileHandle file, const char* from, const char* to,
                        const FileId* expected, ReplaceTarget* found) {
  ReplaceTarget ignored;
  if (found == nullptr) found = &ignored;
  *found = ReplaceTarget::kExpected;
  // The file was opened without delete sharing, so it must be closed before
  // it can be moved. The new file has the permissions its folder gives.
  if (file != kNoFile) CloseHandle(ToHandle(file));
  if (expected != nullptr) {
    HANDLE target = CreateFileA(to, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        *found = ReplaceTarget::kMissing;
        return false;
      }
    } else {
      FileId id;
      const bool same = IdOfHandle(target, &id) && id.volume == expected->volume &&
                        id.index == expected->index;
      CloseHandle(target);
      if (!same) {
        *found = ReplaceTarget::kOtherFile;
        return false;
      }
    }
  }
  return FileRenameReplace(from, to);
}

bool FileIsHeld(const char* path) {
  if (fault::Injected(fault::Op::kIsHeld)) return true;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  // An open for deletion that shares nothing fails exactly while another
  // open holds the file.
  HANDLE file = CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return false;
}

bool FolderFlushOf(const char*) {
  // Folder entries are written through by the system (and MoveFileEx was
  // asked to write through); there is nothing to force.
  return !fault::Injected(fault::Op::kFolderFlush);
}

void SleepMilliseconds(uint32_t ms) {
  if (fault::SleptByHook(ms)) return;
  Sleep(ms);
}

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

int32_t ProfileGetInt(const char* section, const char* key, int32_t defaultValue,
                      const char* file) {
  if (fault::Injected(fault::Op::kProfileRead)) return defaultValue;
  // The service parses an optional sign; its unsigned result carries a
  // negative value as its two's complement.
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, file));
}

uint32_t ProfileGetString(const char* section, const char* key, const char* defaultValue,
                          char* out, uint32_t outSize, const char* file) {
  if (outSize == 0) return 0;
  out[0] = '\0';
  if (fault::Injected(fault::Op::kProfileRead)) {
    // As the service does for a missing file: the default, cut to fit.
    uint32_t n = 0;
    const char* text = defaultValue != nullptr ? defaultValue : "";
    while (n + 1 < outSize && text[n] != '\0') {
      out[n] = text[n];
      ++n;
    }
    out[n] = '\0';
    return n;
  }
  return GetPrivateProfileStringA(section, key, defaultValue, out, outSize, file);
}

int32_t ProfileFindNumberedKey(const char* section, const char* keyPrefix, int32_t count,
                               const char* defaultValue, uint32_t outSize, const char* wanted,
                               const char* file) {
  if (count < 1 || outSize == 0 || outSize > 4096 || keyPrefix == nullptr || wanted == nullptr) {
    return 0;
  }
  const char* fallback = defaultValue != nullptr ? defaultValue : "";
  char key[64];
  char text[4096];
  for (int32_t i = 1; i <= count; ++i) {
    const int length = std::snprintf(key, sizeof key, "%s%d", keyPrefix, i);
    if (length < 0 || static_cast<size_t>(length) >= sizeof key) return 0;
    ProfileGetString(section, key, fallback, text, outSize, file);
    if (std::strcmp(text, wanted) == 0 || std::strcmp(text, fallback) == 0) return i;
  }
  return 0;
}

bool ProfileWriteString(const char* section, const char* key, const char* value,
                        const char* file) {
  if (fault::Injected(fault::Op::kProfileWrite)) return false;
  return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

bool ProfileWriteStrings(const char* section, const char* const* keys, const char* const* values,
                         int count, const char* file) {
  if (keys == nullptr || values == nullptr || count < 1 || count > 4) return false;
  for (int i = 0; i < count; ++i) {
    if (!ProfileWriteString(section, keys[i], values[i], file)) return false;
  }
  return true;
}

FileHandle ProfileLockFolderOf(const char* file) {
  // The private-profile services take no lock of their own. A folder cannot
  // be locked as a file can; a mutex named after the folder's full path (in
  // upper case, as the file system compares names) stands for it. Its name
  // lives in the logon session: runs in other sessions, or on other
  // machines sharing the folder, are not excluded.
  if (file == nullptr) return kNoFile;
  char full[MAX_PATH];
  char* namePart = nullptr;
  const DWORD length = GetFullPathNameA(file, sizeof full, full, &namePart);
  if (length == 0 || length >= sizeof full || namePart == nullptr) return kNoFile;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the folder's path
  for (const char* c = full; c < namePart; ++c) {
    unsigned char b = static_cast<unsigned char>(*c);
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    if (b == '/') b = '\\';
    hash = (hash ^ b) * 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "Local\\RaveloListings.%016llx",
                static_cast<unsigned long long>(hash));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return kNoFile;
  // A holder that died leaves the mutex abandoned: it is then ours.
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(mutex);
}

void ProfileUnlockFolder(FileHandle lock) {
  if (lock == kNoFile) return;
  ReleaseMutex(ToHandle(lock));
  CloseHandle(ToHandle(lock));
}

void ProfileFlushWrites() {
  // WritePrivateProfileString leaves its files to the system's cache like
  // any other write; there is no folder entry to force.
}

}  // namespace ravelo::platform
