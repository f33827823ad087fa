/* Preloaded into the converting process by bench/run.sh --without-flushes:
   every flush to the disk succeeds at once without flushing anything, so
   that a run without flushes shows what they cost. Never for real use. */
int fsync(int fd) {
  (void)fd;
  return 0;
}

int fdatasync(int fd) {
  (void)fd;
  return 0;
}
