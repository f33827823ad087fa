// File services on POSIX systems (Linux).
//
// Windows share modes are emulated with open-file-description locks
// (F_OFD_SETLK), taken on every file this library opens: a reader holds a
// shared lock, a writer an exclusive one, and a delete or a rename first
// takes an exclusive lock on the file it removes. Two processes working on
// one folder so see each other's files as Windows programs would: a file
// being written cannot be read, emptied or deleted by the other, and a file
// being read cannot be written or deleted. Locks belong to the open file, so
// two opens in one process exclude each other too, as on Windows.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/fault.h"
#include "platform/system_path_posix.h"

namespace ravelo::platform {
namespace {

int FdOf(FileHandle file) {
  return file < 0 || file > 0x7fffffff ? -1 : static_cast<int>(file);
}

// Takes a lock of the given type on the whole file without waiting.
bool LockWholeFile(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  lock.l_pid = 0;
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when another open of the file holds a lock that a writer would meet.
bool HeldByOther(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  lock.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return true;
  return lock.l_type != F_UNLCK;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

// Between the open of a file by name and its lock, the file's holder may
// rename it away and let go: the lock then holds a file that no longer has
// the name. True when path still names the file open as fd.
bool StillNamed(int fd, const char* sysPath) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(sysPath, &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void OpenedByName(const char* sysPath) { fault::NotifyOpened(sysPath); }

// Before a file is deleted or renamed: opens it and makes sure no other
// open holds it, as Windows needs delete access that no open shares here.
// On success *fd is an open of the file, to be kept until the name has
// changed and then closed, or -1 when the name is not a regular file (a
// symbolic link, a FIFO) and there is nothing to lock. Fails while another
// open holds the file, when the name is missing and for a folder.
bool LockForRemoval(const char* sysPath, int* fd) {
  *fd = -1;
  struct stat st;
  if (lstat(sysPath, &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return false;
  if (!S_ISREG(st.st_mode)) return true;
  int f = open(sysPath, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (f >= 0) {
    OpenedByName(sysPath);
    // A file that lost its name meanwhile counts as held: the caller tries
    // again or reports it.
    if (!LockWholeFile(f, F_WRLCK) || !StillNamed(f, sysPath)) {
      close(f);
      return false;
    }
    *fd = f;
    return true;
  }
  if (errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY) return false;
  // No write permission: the file can still be unlinked, so at least look
  // for a holder, and keep a shared lock so that no writer comes meanwhile.
  f = open(sysPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (f < 0) return false;
  OpenedByName(sysPath);
  if (HeldByOther(f) || !LockWholeFile(f, F_RDLCK) || !StillNamed(f, sysPath)) {
    close(f);
    return false;
  }
  *fd = f;
  return true;
}

}  // namespace

FileHandle FileOpenRead(const char* path) {
  if (fault::Injected(fault::Op::kOpenRead)) return kNoFile;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return kNoFile;
  // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below.
  int fd = open(p, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0 ||
      !LockWholeFile(fd, F_RDLCK)) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

FileHandle FileCreateNew(const char* path) {
  if (fault::Injected(fault::Op::kCreate)) return kNoFile;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return kNoFile;
  int fd = open(p, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return kNoFile;
  if (!LockWholeFile(fd, F_WRLCK)) {
    close(fd);
    unlink(p);
    return kNoFile;
  }
  return fd;
}

FileHandle FileCreateFresh(const char* path) {
  if (fault::Injected(fault::Op::kCreate)) return kNoFile;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return kNoFile;
  struct stat st;
  if (lstat(p, &st) == 0) {
    // Only a regular file is removed; a hard link loses just this name.
    if (!S_ISREG(st.st_mode)) return kNoFile;
    int held = -1;
    if (!LockForRemoval(p, &held)) return kNoFile;
    const bool removed = unlink(p) == 0;
    CloseFd(held);
    if (!removed) return kNoFile;
  }
  int fd = open(p, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return kNoFile;
  // Until the lock is taken another run could remove the new file; a file
  // that lost its name is not the one at path.
  if (!LockWholeFile(fd, F_WRLCK) || !StillNamed(fd, p)) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

bool FileIdOf(FileHandle file, FileId* id) {
  struct stat st;
  const int fd = FdOf(file);
  if (id == nullptr || fd < 0 || fstat(fd, &st) != 0) return false;
  id->volume = static_cast<uint64_t>(st.st_dev);
  id->index = static_cast<uint64_t>(st.st_ino);
  // A file number is given again as soon as its file is gone: an open of
  // its own (not sharing the lock of `file`) keeps it.
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  // Without it (no /proc) the identity is still checked, only less surely.
  int pin = open(self, O_RDONLY | O_CLOEXEC);
  struct stat pinned;
  if (pin >= 0 && (fstat(pin, &pinned) != 0 || pinned.st_dev != st.st_dev ||
                   pinned.st_ino != st.st_ino)) {
    close(pin);
    pin = -1;
  }
  id->pin = pin < 0 ? kNoFile : pin;
  return true;
}

void FileIdRelease(FileId* id) {
  if (id == nullptr) return;
  CloseFd(FdOf(id->pin));
  id->pin = kNoFile;
}

namespace {

// Reads until size bytes or the end of the file; *got counts what arrived.
bool ReadFully(int fd, unsigned char* buffer, uint32_t size, uint32_t* got) {
  uint32_t total = 0;
  while (total < size) {
    ssize_t n = read(fd, buffer + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      *got = total;
      return false;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  *got = total;
  return true;
}

bool WriteFully(int fd, const unsigned char* buffer, uint32_t size, uint32_t* written) {
  uint32_t total = 0;
  while (total < size) {
    ssize_t n = write(fd, buffer + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  *written = total;
  return total == size;
}

}  // namespace

bool FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  uint32_t ignored = 0;
  if (got == nullptr) got = &ignored;
  *got = 0;
  int32_t partial = -1;
  const int fd = FdOf(file);
  if (fault::Injected(fault::Op::kRead, &partial)) {
    if (partial > 0 && fd >= 0 && buffer != nullptr) {
      uint32_t want = static_cast<uint32_t>(partial) < size ? static_cast<uint32_t>(partial) : size;
      ReadFully(fd, static_cast<unsigned char*>(buffer), want, got);
    }
    return false;
  }
  if (fd < 0 || (buffer == nullptr && size != 0)) return false;
  return ReadFully(fd, static_cast<unsigned char*>(buffer), size, got);
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
  uint32_t ignored = 0;
  if (written == nullptr) written = &ignored;
  *written = 0;
  int32_t partial = -1;
  const int fd = FdOf(file);
  if (fault::Injected(fault::Op::kWrite, &partial)) {
    if (partial > 0 && fd >= 0 && buffer != nullptr) {
      uint32_t want = static_cast<uint32_t>(partial) < size ? static_cast<uint32_t>(partial) : size;
      WriteFully(fd, static_cast<const unsigned char*>(buffer), want, written);
    }
    return false;
  }
  if (fd < 0 || (buffer == nullptr && size != 0)) return false;
  return WriteFully(fd, static_cast<const unsigned char*>(buffer), size, written);
}

bool FileSeek(FileHandle file, uint32_t offset) {
  if (fault::Injected(fault::Op::kSeek)) return false;
  const int fd = FdOf(file);
  if (fd < 0 || offset >= 0x80000000u) return false;
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool FileFlush(FileHandle file) {
  if (fault::Injected(fault::Op::kFlush)) return false;
  const int fd = FdOf(file);
  return fd >= 0 && fsync(fd) == 0;
}

void FileClose(FileHandle file) {
  const int fd = FdOf(file);
  if (fd >= 0) close(fd);  // the lock goes with the last reference
}

PathKind PathKindOf(const char* path) {
  if (fault::Injected(fault::Op::kPathKind)) return PathKind::kNone;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return PathKind::kNone;
  struct stat st;
  if (lstat(p, &st) != 0) return PathKind::kNone;
  // A symbolic link counts as what it leads to; one that leads nowhere is
  // still a name in the folder.
  if (S_ISLNK(st.st_mode) && stat(p, &st) != 0) return PathKind::kFile;
  return S_ISDIR(st.st_mode) ? PathKind::kFolder : PathKind::kFile;
}

bool FolderCreate(const char* path) {
  if (fault::Injected(fault::Op::kFolderCreate)) return false;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return false;
  return mkdir(p, 0777) == 0;
}

bool FileRemove(const char* path) {
  if (fault::Injected(fault::Op::kRemove)) return false;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return false;
  int fd = -1;
  if (!LockForRemoval(p, &fd)) return false;
  const bool ok = unlink(p) == 0;  // while the lock keeps others out
  CloseFd(fd);
  return ok;
}

bool FileRenameReplace(const char* from, const char* to) {
  if (fault::Injected(fault::Op::kRenameReplace)) return false;
  char f[kSystemPathSize];
  char t[kSystemPathSize];
  if (!SystemPath(from, f) || !SystemPath(to, t)) return false;
  int fromFd = -1;
  if (!LockForRemoval(f, &fromFd)) return false;
  int toFd = -1;
  struct stat st;
  if (lstat(t, &st) == 0 && !LockForRemoval(t, &toFd)) {
    CloseFd(fromFd);
    return false;
  }
  const bool ok = rename(f, t) == 0;
  CloseFd(toFd);
  CloseFd(fromFd);
  return ok;
}

namespace {

// The replacement gets the owner (where the process may give it; a change of
// owner can clear set-id bits, so it comes first) and the permission bits of
// the file it replaces.
void TakeAccessOf(int fd, const struct stat& replaced) {
  struct stat own;
  if (fstat(fd, &own) != 0) return;
  if (own.st_uid != replaced.st_uid || own.st_gid != replaced.st_gid) {
    if (fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
      (void)!fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);  // the group alone
    }
  }
  fchmod(fd, replaced.st_mode & 07777);
}

}  // namespace

bool FileCloseReplacing(FileHandle file, const char* from, const char* to,
                        const FileId* expected, ReplaceTarget* found) {
  const int fromFd = FdOf(file);
  ReplaceTarget ignored;
  if (found == nullptr) found = &ignored;
  *found = ReplaceTarget::kExpected;
  if (fault::Injected(fault::Op::kRenameReplace)) {
    CloseFd(fromFd);
    return false;
  }
  char f[kSystemPathSize];
  char t[kSystemPathSize];
  bool ok = SystemPath(from, f) && SystemPath(to, t);
  int toFd = -1;
  struct stat st;
  const bool present = ok && lstat(t, &st) == 0;
  // The lock on `to` keeps other runs from removing or replacing it until
  // the rename is done.
  if (present) ok = LockForRemoval(t, &toFd);
  // What `to` leads to: the locked file, or what a symbolic link there
  // points to.
  struct stat target;
  const bool hasTarget = present && ok && (toFd >= 0 ? fstat(toFd, &target) : stat(t, &target)) == 0;
  if (ok && expected != nullptr) {
    if (!present) {
      *found = ReplaceTarget::kMissing;
      ok = false;
    } else if (!hasTarget || static_cast<uint64_t>(target.st_dev) != expected->volume ||
               static_cast<uint64_t>(target.st_ino) != expected->index) {
      *found = ReplaceTarget::kOtherFile;
      ok = false;
    }
  }
  if (ok && hasTarget && fromFd >= 0 && S_ISREG(target.st_mode)) TakeAccessOf(fromFd, target);
  // Our own lock on `from` keeps everybody else out until it has its new name.
  if (ok) ok = rename(f, t) == 0;
  CloseFd(toFd);
  CloseFd(fromFd);
  return ok;
}

bool FileIsHeld(const char* path) {
  if (fault::Injected(fault::Op::kIsHeld)) return true;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return false;
  struct stat st;
  if (lstat(p, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  int fd = -1;
  if (!LockForRemoval(p, &fd)) return true;
  CloseFd(fd);
  return false;
}

bool FolderFlushOf(const char* path) {
  if (fault::Injected(fault::Op::kFolderFlush)) return false;
  char p[kSystemPathSize];
  if (!SystemPath(path, p)) return false;
  char* slash = strrchr(p, '/');
  if (slash == nullptr) {
    p[0] = '.';
    p[1] = '\0';
  } else if (slash == p) {
    p[1] = '\0';  // a name in the root folder
  } else {
    *slash = '\0';
  }
  int fd = open(p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

void SleepMilliseconds(uint32_t ms) {
  if (fault::SleptByHook(ms)) return;
  struct timespec left;
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

bool IsLeadByte(unsigned char) { return false; }

}  // namespace ravelo::platform
