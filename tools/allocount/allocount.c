// allocount: an LD_PRELOAD library that counts heap calls (malloc, calloc, realloc, free) and the
// call stacks they come from. On SIGUSR1 and at exit it writes the counts, each stack's return
// addresses and the process's memory map to the file named by ALLOCOUNT_OUT (replaced
// atomically), so a driver can snapshot a process that never exits and resolve the addresses
// with addr2line afterwards.
#define _GNU_SOURCE
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void __libc_free(void* pointer);

enum { KIND_MALLOC, KIND_CALLOC, KIND_REALLOC, KIND_FREE, KIND_COUNT };
static const char* const kKindNames[KIND_COUNT] = {"malloc", "calloc", "realloc", "free"};

enum { kDepth = 12, kSkip = 2, kSites = 512, kPathSize = 512 };

struct Site {
  int kind;
  int depth;
  void* frames[kDepth];
  unsigned long calls;
  unsigned long bytes;
};

static struct Site g_sites[kSites];
static unsigned long g_calls[KIND_COUNT];
static unsigned long g_bytes[KIND_COUNT];
static unsigned long g_unrecorded;  // calls whose stack found no free site slot
static unsigned long g_dumps;
static __thread int t_inHook;

static int sameStack(const struct Site* site, int kind, void* const* frames, int depth) {
  return site->kind == kind && site->depth == depth &&
         memcmp(site->frames, frames, sizeof(void*) * (size_t)depth) == 0;
}

static struct Site* findSite(int kind, void* const* frames, int depth) {
  uintptr_t hash = (uintptr_t)kind;
  for (int i = 0; i < depth; i++) hash = hash * 31u + (uintptr_t)frames[i];
  for (int probe = 0; probe < kSites; probe++) {
    struct Site* site = &g_sites[(hash + (uintptr_t)probe) % kSites];
    if (site->calls == 0) {
      site->kind = kind;
      site->depth = depth;
      memcpy(site->frames, frames, sizeof(void*) * (size_t)depth);
      return site;
    }
    if (sameStack(site, kind, frames, depth)) return site;
  }
  return NULL;
}

// The first call of backtrace() loads the unwinder, which allocates: the guard keeps those
// allocations (and any made while recording) out of the counts.
static void record(int kind, size_t bytes) {
  if (t_inHook) return;
  t_inHook = 1;
  g_calls[kind]++;
  g_bytes[kind] += bytes;
  void* frames[kDepth + kSkip];
  int depth = backtrace(frames, kDepth + kSkip) - kSkip;
  if (depth < 0) depth = 0;
  struct Site* site = findSite(kind, frames + kSkip, depth);
  if (site == NULL) {
    g_unrecorded++;
  } else {
    site->calls++;
    site->bytes += bytes;
  }
  t_inHook = 0;
}

void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  record(KIND_MALLOC, size);
  return p;
}

void* calloc(size_t count, size_t size) {
  void* p = __libc_calloc(count, size);
  record(KIND_CALLOC, count * size);
  return p;
}

void* realloc(void* pointer, size_t size) {
  void* p = __libc_realloc(pointer, size);
  record(KIND_REALLOC, size);
  return p;
}

void free(void* pointer) {
  if (pointer != NULL) record(KIND_FREE, 0);
  __libc_free(pointer);
}

// ---- dump: plain write(2) and hand-made number formatting, so it is safe in a signal handler --

struct Out {
  int fd;
  char buffer[4096];
  size_t used;
};

static void flush(struct Out* out) {
  size_t done = 0;
  while (done < out->used) {
    ssize_t n = write(out->fd, out->buffer + done, out->used - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  out->used = 0;
}

static void put(struct Out* out, const char* text) {
  for (; *text != '\0'; text++) {
    if (out->used == sizeof out->buffer) flush(out);
    out->buffer[out->used++] = *text;
  }
}

static void putNumber(struct Out* out, unsigned long value, unsigned base) {
  char digits[32];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  char text[34] = "0x";
  int at = base == 16 ? 2 : 0;
  while (n > 0) text[at++] = digits[--n];
  text[at] = '\0';
  put(out, text);
}

static void putMaps(struct Out* out) {
  int maps = open("/proc/self/maps", O_RDONLY);
  if (maps < 0) return;
  flush(out);
  char chunk[4096];
  ssize_t n;
  while ((n = read(maps, chunk, sizeof chunk)) > 0) {
    if (write(out->fd, chunk, (size_t)n) != n) break;
  }
  close(maps);
}

static void putSites(struct Out* out) {
  for (int i = 0; i < kSites; i++) {
    const struct Site* site = &g_sites[i];
    if (site->calls == 0) continue;
    put(out, "site ");
    put(out, kKindNames[site->kind]);
    put(out, " ");
    putNumber(out, site->calls, 10);
    put(out, " ");
    putNumber(out, site->bytes, 10);
    for (int f = 0; f < site->depth; f++) {
      put(out, " ");
      putNumber(out, (unsigned long)(uintptr_t)site->frames[f], 16);
    }
    put(out, "\n");
  }
}

static void dump(void) {
  const char* target = getenv("ALLOCOUNT_OUT");
  if (target == NULL || target[0] == '\0' || strlen(target) + 5 > kPathSize) return;
  int saved = t_inHook;
  t_inHook = 1;
  char temporary[kPathSize];
  strcpy(temporary, target);
  strcat(temporary, ".tmp");
  struct Out out = {open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644), {0}, 0};
  if (out.fd >= 0) {
    put(&out, "dump ");
    putNumber(&out, ++g_dumps, 10);
    put(&out, "\n");
    for (int kind = 0; kind < KIND_COUNT; kind++) {
      put(&out, "total ");
      put(&out, kKindNames[kind]);
      put(&out, " ");
      putNumber(&out, g_calls[kind], 10);
      put(&out, " ");
      putNumber(&out, g_bytes[kind], 10);
      put(&out, "\n");
    }
    put(&out, "unrecorded ");
    putNumber(&out, g_unrecorded, 10);
    put(&out, "\n");
    putSites(&out);
    put(&out, "maps\n");
    putMaps(&out);
    flush(&out);
    close(out.fd);
    rename(temporary, target);
  }
  t_inHook = saved;
}

static void onSignal(int signal) {
  (void)signal;
  dump();
}

__attribute__((constructor)) static void start(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, NULL);
  atexit(dump);
}
