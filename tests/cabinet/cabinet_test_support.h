// Reading back the cabinets the tests make, with our own parser for the
// header fields and with the independent readers for everything else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabinet_test {

struct FileEntry {
    std::string name;
    std::uint32_t size = 0;
    std::uint32_t folderOffset = 0;
    std::uint16_t folder = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
};

struct Layout {
    bool valid = false;
    std::uint32_t cabinetSize = 0;
    std::uint16_t folders = 0;
    std::uint16_t files = 0;
    std::uint16_t setId = 0;
    std::uint16_t flags = 0;
    std::vector<std::uint16_t> blocksPerFolder;
    std::vector<std::uint16_t> compression;
    std::vector<FileEntry> entries;
};

Layout readLayout(const std::string& cabinet);

// cabextract -t and -l, gcab -l, and 7z t when 7z is there, all succeed and
// list exactly these names. Reports failures through gtest.
void expectReadersAccept(const std::string& cabinet, const std::vector<std::string>& names);
// Extracts with cabextract and with gcab and compares every file byte for
// byte with its source in sourceDir.
void expectContentsMatch(const std::string& cabinet, const std::string& sourceDir,
                         const std::vector<std::string>& names);

// Collects what the code under test prints on standard output.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string text();  // stops capturing

private:
    int saved = -1;
    std::string path;
    bool done = false;
    std::string collected;
};

// Sets TMP for the life of the object.
class TmpVariable {
public:
    explicit TmpVariable(const std::string& value);
    ~TmpVariable();
    TmpVariable(const TmpVariable&) = delete;
    TmpVariable& operator=(const TmpVariable&) = delete;

private:
    bool had = false;
    std::string old;
};

std::string shellQuoted(const std::string& path);
std::string currentDirectory();
std::string randomBytes(std::size_t count, unsigned seed);
std::string textBytes(std::size_t count);

}  // namespace cabinet_test
