// What the tests share: an argument vector laid out as main receives it,
// and what a function wrote to a FILE*.
#ifndef TAMSOR_TESTS_TEST_SUPPORT_H_
#define TAMSOR_TESTS_TEST_SUPPORT_H_

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class Argv {
 public:
  explicit Argv(std::vector<std::string> args) : args_(std::move(args)) {
    // cppcheck-suppress useStlAlgorithm
    for (std::string& arg : args_) pointers_.push_back(&arg[0]);
    pointers_.push_back(nullptr);  // argv[argc]
  }
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;

  int argc() const { return static_cast<int>(args_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

// Everything `write` wrote to the FILE* it is given, read back byte for
// byte.
template <typename Writer>
std::string Captured(Writer write) {
  FILE* file = std::tmpfile();
  if (file == nullptr) return "(no temporary file)";
  write(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    text.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  return text;
}

#endif  // TAMSOR_TESTS_TEST_SUPPORT_H_
