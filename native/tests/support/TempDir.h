#pragma once

#include <string>

// A fresh directory under the system's temporary directory, removed with all
// its contents when the object goes.

namespace nolari::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();

  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace nolari::test
