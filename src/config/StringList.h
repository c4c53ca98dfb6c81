#pragma once

#include <string>
#include <vector>

// An ordered list of texts: plan lists, index lists, section and key listings.
using TStringList = std::vector<std::string>;
