#pragma once

#include <string>
#include <vector>

// What argv (no shell; the program looked up on PATH) writes on one of its
// outputs (1 or 2), with nothing on its standard input and its other output
// dropped. succeeded tells whether it ran and exited with status 0.
std::string ChildOutput(std::vector<std::string> argv, int stream, bool& succeeded);
