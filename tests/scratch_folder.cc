#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::vector<std::string>& names) {
  std::random_device device;
  fs::path made;
  std::error_code error;
  do {
    made = fs::temp_directory_path() /
           ("tamsor-e2e-" + std::to_string(device() % 100000000));
  } while (!fs::create_directory(made, error) && !error);
  EXPECT_FALSE(error) << made.u8string() << ": " << error.message();
  path_ = made.u8string();
  for (const std::string& name : names) Add(name, "", false);
}

std::string ScratchFolder::Add(const std::string& name, const std::string& text,
                               bool executable) {
  const fs::path file = (fs::u8path(path_) / fs::u8path(name)).make_preferred();
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
  EXPECT_TRUE(fs::exists(file)) << name;
  if (executable) {
    fs::permissions(
        file,
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
        fs::perm_options::add);
  }
  return file.u8string();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(fs::u8path(path_), ignored);
}
