// A small disk for the fault tests: a tmpfs of a given size, mounted in a
// mount namespace private to this process (entered as root, or as root of
// a new user namespace), so that it vanishes with the process even when a
// test dies half-way.  Where no mount is allowed at all, Available() says
// why and the caller falls back or skips.
#ifndef KIV_TESTS_TOOLS_SMALLDISK_H_
#define KIV_TESTS_TOOLS_SMALLDISK_H_

#include <cstddef>
#include <string>

namespace kivtest {

class SmallDisk {
 public:
  // Whether this process can mount; `why` says why not.
  static bool Available(std::string& why);
  // Binds a read-only view of the file `path` over itself, for this
  // process only; the directory around it stays writable.  Throws when it
  // cannot.
  static void MakeFileReadOnly(const std::string& path);

  // Mounts a tmpfs of `bytes` at a new directory; throws when it cannot.
  explicit SmallDisk(size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  const std::string& path() const { return m_path; }
  // Makes the disk read-only, or writable again; another size on the way.
  void Remount(bool readOnly, size_t bytes);

 private:
  std::string m_path;
};

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_SMALLDISK_H_
