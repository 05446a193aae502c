// What the Windows tests need of Windows itself: text as a redirected run writes it, the code
// page, and a file held open the way another program holds it.
#pragma once

#include <string>
#include <string_view>

namespace tessaro::testing {

// utf8 in the code page, with the code page's default character for what it cannot hold.
std::string InCodePage(std::string_view utf8, unsigned codePage);

// What a run writes for utf8 to a file or pipe on Chinese Windows: the text in code page 936,
// every "\n" as "\r\n".
std::string Redirected(std::string_view utf8);

// The ANSI code page this process (and every process it starts) reads narrow text in.
unsigned AnsiCodePage();

// Makes a directory, or moves a file, by paths taken as they are ("\\?\" paths: names such as
// CON or "a." that Win32 path text cannot otherwise name). False on failure.
bool MakeDirectoryAsIs(const std::string& path);
bool MoveAsIs(const std::string& from, const std::string& to);

// Opens a file for reading the way a viewer holds a picture: others may read and write it but
// not delete or rename it, until this is destroyed.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool held() const;

private:
    void* handle_;
};

}  // namespace tessaro::testing
