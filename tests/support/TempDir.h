// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fresh folder for one test, removed with everything in it afterwards; and whole-file reads and
// writes for what the tests put there.

#include <filesystem>
#include <string>
#include <string_view>

namespace varmio::test {

class TempDir {
public:
    TempDir(); // throws std::runtime_error when no folder can be made
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole file, bytes as they are; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces the file with `bytes`; false when it cannot be written.
bool WriteFile(const std::filesystem::path& path, std::string_view bytes);

} // namespace varmio::test
