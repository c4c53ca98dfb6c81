#include "config/StringList.h"
