#pragma once

#include <string>

// The page and style sheet that show a log folder in a browser.
inline const char* const LogViewerFiles[] = {"index.htm", "log.xsl"};

// The program's own copies: the folder "log" beside the executable, or in
// share/pairwell for an installed program.
std::string ProgramLogViewerFolder();

// Puts the viewer files from viewerFolder into logFolder where they are
// missing or older than the program's copies, so every log folder, wherever
// its configuration lives, can be opened in a browser. Best effort: a file
// that cannot be copied is left as it is and the run goes on.
void InstallLogViewer(const std::string& logFolder, const std::string& viewerFolder);
