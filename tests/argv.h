// An argument vector laid out as main receives it, for tests.
#ifndef TAMSOR_TESTS_ARGV_H_
#define TAMSOR_TESTS_ARGV_H_

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

#endif  // TAMSOR_TESTS_ARGV_H_
