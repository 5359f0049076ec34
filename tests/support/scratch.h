#pragma once

// Temporary files of the tests, and the check that none outlive them.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tolbe::testing_support {

// A fresh folder of its own in the tests' temporary folder, removed with
// whatever it holds when it goes out of scope, whether the test passed or
// not.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& stem) {
    std::string pattern = ::testing::TempDir() + stem + "_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a folder like " << pattern;
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` in the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs every test of the program with a private temporary folder (gtest's
// TempDir() and TMPDIR name it) and fails the run when anything is left in
// it at the end: a test suite that leaves files behind fills the temporary
// folder of every machine it runs on. Under ctest each test is a process
// of its own, so the check names the test that leaked.
class NoFilesLeftBehind : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* name : {"TEST_TMPDIR", "TMPDIR"}) {
      const char* value = std::getenv(name);
      saved_.push_back(value == nullptr ? std::string() : std::string(value));
      had_.push_back(value != nullptr);
    }
    std::string pattern = ::testing::TempDir() + "tolbe_tests_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a private temporary folder like " << pattern;
      return;
    }
    folder_ = pattern;
    setenv("TEST_TMPDIR", folder_.c_str(), 1);
    setenv("TMPDIR", folder_.c_str(), 1);
  }

  void TearDown() override {
    if (folder_.empty()) return;
    std::error_code error;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
      left.push_back(entry.path().filename().string());
    }
    for (const std::string& name : left) {
      ADD_FAILURE() << "a test left \"" << name << "\" in the temporary folder";
    }
    std::filesystem::remove_all(folder_, error);
    const char* names[] = {"TEST_TMPDIR", "TMPDIR"};
    for (std::size_t k = 0; k < 2; ++k) {
      if (had_[k]) {
        setenv(names[k], saved_[k].c_str(), 1);
      } else {
        unsetenv(names[k]);
      }
    }
  }

 private:
  std::string folder_;
  std::vector<std::string> saved_;
  std::vector<bool> had_;
};

// Every program that includes this header checks itself.
inline ::testing::Environment* const no_files_left_behind =
    ::testing::AddGlobalTestEnvironment(new NoFilesLeftBehind);

}  // namespace tolbe::testing_support
