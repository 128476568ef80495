// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace lumo::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumo-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, ending in "/"; empty when it could not be made.
  const std::string& Path() const { return path_; }

  // Writes bytes into a file of the folder (subfolders made as needed); returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path file = path_ + name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }

  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Number of entries in the folder (to see that no temporary file was left behind).
  size_t Count() const {
    auto entries = std::filesystem::directory_iterator(path_);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
  }

 private:
  std::string path_;
};

}  // namespace lumo::test
