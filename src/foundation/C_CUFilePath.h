// Splits a path into drive, directory, title and extension. Both "\" and "/"
// separate folders; nothing is ever cut short.
#pragma once

#include "foundation/C_CUString.h"

namespace cz {

class C_CUFilePath {
public:
    C_CUFilePath() = default;
    explicit C_CUFilePath(const char* path) { Split(path); }
    void Split(const char* path);

    const C_CUString& GetDrive() const { return drive_; }
    // With its trailing separator, as written in the path.
    const C_CUString& GetDirectory() const { return directory_; }
    // The file name without its extension.
    const C_CUString& GetTitle() const { return title_; }
    // With its dot; empty when the name has none.
    const C_CUString& GetExtension() const { return extension_; }
    // Drive + directory + title: the path without its extension.
    C_CUString GetPathWithoutExtension() const { return C_CUString(drive_ + directory_ + title_); }
    // Title + extension.
    C_CUString GetFileName() const { return C_CUString(title_ + extension_); }

private:
    C_CUString drive_, directory_, title_, extension_;
};

}  // namespace cz
