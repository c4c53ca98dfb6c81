#include "RunLog.h"
