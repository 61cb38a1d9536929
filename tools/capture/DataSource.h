#pragma once
// Where lumenfall-capture reads the show from. The players read "demo.dat" (or "assets/") in
// their working folder; the capture program may be started anywhere, so it looks in turn at
// the folder named by --data, the working folder when it holds "demo.dat" or "assets/", and
// the data folder of the installation it belongs to (found relative to its own file).

#include <string>

struct DataFolder {
    bool found = false;
    std::string folder; // when found
    std::string error;  // otherwise: a one-line message
};

// The content folder: dataDir when given (it must hold "demo.dat" or "assets/"), else "." or
// the installed one.
DataFolder findDataFolder(const std::string& dataDir);

// Points the loader at folder: its "demo.dat" when that opens, else its "assets/" folder.
void openDataFolder(const std::string& folder);
