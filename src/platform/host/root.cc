// The host backend's root: the directory that stands for "/" on the phone.
#include "platform/host/root.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

char g_root[kHostRootSize];

}  // namespace

const char* hostRoot() { return g_root; }

void hostUseRoot(const char* root) { copyText(g_root, root); }

bool hostPath(const char* path, char* out, size_t size) {
  int n = snprintf(out, size, "%s%s", g_root, path);
  return n >= 0 && static_cast<size_t>(n) < size;
}

int platformPath(const char* path, char* out, size_t size) {
  return hostPath(path, out, size) ? 0 : -1;
}

const char* hostRootProblem(const char* root) {
  struct stat info;
  sockaddr_un address;
  if (root == nullptr || root[0] == '\0') {
    return "MODEMPREP_ROOT is not set (it names the directory that stands for / on the phone)";
  }
  if (stat(root, &info) != 0) return strerror(errno);
  if (!S_ISDIR(info.st_mode)) return "not a directory";
  if (access(root, W_OK | X_OK) != 0) return strerror(errno);
  if (strlen(root) + strlen(kUeventSocketPath) >= sizeof address.sun_path) {
    static char tooLong[128];
    snprintf(tooLong, sizeof tooLong, "too long: <root>%s must fit a Unix socket path (%zu bytes)",
             kUeventSocketPath, sizeof address.sun_path - 1);
    return tooLong;
  }
  return nullptr;
}
