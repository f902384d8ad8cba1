#pragma once

#include <string>

// Files for the Qt-free tests: temporary folders that never touch the user's
// own, and whole-file reads and writes.
namespace kelvora::testsupport {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the test program ends. Safe from any thread; throws when none
// can be made.
std::string TemporaryFolder();

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Replaces the file's content with text (bytes as they are).
void WriteFile(const std::string &path, const std::string &text);

} // namespace kelvora::testsupport
