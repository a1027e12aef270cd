// Everything from outside the language that the library uses.
#pragma once

#include "com.h"
#include "directshow.h"
#include "java.h"
#include "win32.h"
