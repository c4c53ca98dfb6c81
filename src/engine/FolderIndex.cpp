#include "FolderIndex.h"
