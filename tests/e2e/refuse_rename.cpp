// Preloaded into a run of the program: a rename whose new name ends in the
// text of REFUSE_RENAME fails as a rename over a mount point does (EBUSY).
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" int rename(const char* from, const char* to) {
  const char* refused = std::getenv("REFUSE_RENAME");
  const std::size_t n = refused == nullptr ? 0 : std::strlen(refused);
  const std::size_t k = std::strlen(to);
  if (n > 0 && k >= n && std::strcmp(to + k - n, refused) == 0) {
    errno = EBUSY;
    return -1;
  }
  using Rename = int (*)(const char*, const char*);
  static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  return next(from, to);
}
