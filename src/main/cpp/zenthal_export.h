// Symbol export control for libzenthal_jni.
// The library is built with hidden default visibility; only declarations
// marked ZENTHAL_API form its plain-function interface.
#ifndef ZENTHAL_EXPORT_H
#define ZENTHAL_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ZENTHAL_API __attribute__((visibility("default")))
#else
#define ZENTHAL_API
#endif

#endif
