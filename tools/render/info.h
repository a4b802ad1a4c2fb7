// zirrafon-render --info: the texts and song list of song files, as text or
// as JSON (one array of one object per file; a refused file's object gives
// the error).
#pragma once

#include <string>
#include <vector>

// Prints the lists of `files` to standard output and each refusal to
// standard error; returns the exit status (1 when a file was refused).
int PrintSongLists(const std::vector<std::string>& files, bool json);
