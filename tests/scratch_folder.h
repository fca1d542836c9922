// A scratch folder for tests, in the system's temporary folder.
#ifndef TAMSOR_TESTS_SCRATCH_FOLDER_H_
#define TAMSOR_TESTS_SCRATCH_FOLDER_H_

#include <string>
#include <vector>

// A scratch folder in the system's temporary folder with empty files of the
// given names, removed with all it holds afterwards. Paths are UTF-8 with
// the platform's separators.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::vector<std::string>& names);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // Adds a file holding `text`, executable when asked; returns its path.
  // A name may be in a new subfolder.
  std::string Add(const std::string& name, const std::string& text,
                  bool executable);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // TAMSOR_TESTS_SCRATCH_FOLDER_H_
