/* Preloaded into the converting process by bench/run.sh --without-flushes:
   every flush to the disk succeeds at once without flushing anything, so
   that a run without flushes shows what they cost. Never for real use.
   The project builds with hidden visibility; these two must be exported or
   the preload would replace nothing. */
#define EXPORTED __attribute__((visibility("default")))

EXPORTED int fsync(int fd) {
  (void)fd;
  return 0;
}

EXPORTED int fdatasync(int fd) {
  (void)fd;
  return 0;
}
