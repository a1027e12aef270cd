/* The machine-dependent part of jni.h for 32-bit Windows: the JDK's own
 * jni.h includes this in place of its Linux one in the Windows build.
 *
 * JNIEXPORT is empty: the .def file (from src/exports.txt) names every export. mingw would export a
 * __declspec(dllexport) stdcall function as "name@N", beside the "_name@N"
 * that the virtual machine looks up, so the attribute would only add a
 * second, wrong name to the export table. */
#ifndef TOVIX_JNI_MD_H
#define TOVIX_JNI_MD_H

#define JNIEXPORT
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
