// The Java Native Interface, from the JDK on every platform.
#pragma once

#include <jni.h>
