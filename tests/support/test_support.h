// Helpers shared by the unit tests of both toolchains.
#pragma once

#include <string>

namespace kavo::test {

// A fresh empty folder for one test, as a Windows-form path ending with a backslash
// ("Z:\tmp\..." under Wine, "/tmp/..." with backslashes natively). Removed with its
// contents when the object goes away.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::u16string& Path() const { return path_; }  // ends with "\"
    std::u16string File(const std::u16string& name) const { return path_ + name; }

  private:
    std::u16string path_;
};

// A path below the project's shared test data (../shared), in Windows form.
std::u16string SharedDataPath(const std::u16string& relative);
// The same as a host path, for code that reads test data with the C++ library.
std::string SharedDataHostPath(const std::string& relative);

// Sets or removes an environment variable of this process.
void SetEnv(const std::u16string& name, const std::u16string* value);

}  // namespace kavo::test
