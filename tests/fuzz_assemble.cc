// libFuzzer target: command-line assembly against a plain reference rule,
// with buffers of many sizes so that the limit is crossed often.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "argv.h"
#include "tamsor.h"

namespace {

// The rule as a user would state it: quote a space, and for a batch file
// also what cmd.exe reads as syntax.
bool Batch(const std::vector<std::string>& args) {
  if (args.size() < 2) return false;
  std::string name = args[1];
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.pop_back();
  }
  if (name.size() < 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return extension == ".bat" || extension == ".cmd";
}

std::string Reference(const std::vector<std::string>& args) {
  const bool batch = Batch(args);
  std::string line;
  for (size_t i = 1; i < args.size(); ++i) {
    const bool quote =
        args[i].find(' ') != std::string::npos ||
        (batch && args[i].find_first_of("&|<>^") != std::string::npos);
    line += quote ? "\"" + args[i] + "\"" : args[i];
    line += ' ';
  }
  return line;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "assembly fault: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0 picks a tiny buffer or the real one; byte 1 sizes the tiny one.
  const size_t buffer_size =
      data[0] < 200 ? 1 + data[1] : tamsor::kCommandBufferSize;
  std::vector<std::string> args = {"tamsor"};
  std::string current;
  for (size_t i = 2; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);

  Argv argv(args);
  // Exactly sized, so that AddressSanitizer sees any write past the end.
  std::unique_ptr<char[]> buffer(new char[buffer_size]);
  const bool fits = tamsor::AssembleCommandLine(argv.argc(), argv.argv(),
                                                buffer.get(), buffer_size);

  const std::string expected = Reference(args);
  // The failure message shows the same line, at any length.
  char* message = nullptr;
  size_t message_size = 0;
  FILE* out = open_memstream(&message, &message_size);
  tamsor::PrintCannotRun(argv.argc(), argv.argv(), out);
  std::fclose(out);
  Check(message == "Cannot run the command [ " + expected + " ]\n",
        "the failure message differs from the rule");
  std::free(message);

  if (expected.size() <= buffer_size - 1) {
    Check(fits, "a line that fits was refused");
    Check(expected == buffer.get(), "the line differs from the rule");
  } else {
    Check(!fits, "an over-long line was accepted");
    Check(buffer[0] == '\0', "a refused line was left in the buffer");
  }
  return 0;
}
