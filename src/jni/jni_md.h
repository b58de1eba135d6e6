// Machine-dependent JNI definitions for Windows (x86 and x64), the counterpart of
// the JDK's win32 jni_md.h. The JDK headers on the build machine ship only the
// Linux variant, whose jint and calling convention are wrong for Windows.
#ifndef OSTREL_JNI_MD_H
#define OSTREL_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
